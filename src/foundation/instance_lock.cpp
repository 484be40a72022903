// InstanceLock over flock: the kernel drops the lock with the last
// descriptor, so a crashed instance never leaves a stale lock behind.
#include "foundation/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "foundation/file_system.h"

namespace vantrel {

namespace {

constexpr std::string_view LockFileExtension = ".lock";

std::string lockFileFor(std::string_view name)
{
    std::string path = tempFolder();
    for (const char c : name)
        path.push_back(c == '/' || c == '\\' ? '_' : c);
    path += LockFileExtension;
    return path;
}

} // namespace

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool InstanceLock::acquire(std::string_view name)
{
    if (fd_ >= 0)
        return true;
    const std::string path = lockFileFor(name);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // made by another user
    if (fd < 0)
        return false;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

} // namespace vantrel
