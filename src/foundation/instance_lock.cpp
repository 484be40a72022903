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

} // namespace

std::string instanceFilePath(std::string_view name, std::string_view extension)
{
    std::string path = tempFolder();
    for (const char c : name)
        path.push_back(c == '/' || c == '\\' ? '_' : c);
    path += extension;
    return path;
}

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool InstanceLock::acquire(std::string_view name)
{
    if (fd_ >= 0)
        return true;
    lockFile_ = instanceFilePath(name, LockFileExtension);
    int fd = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int error = errno;
    if (fd < 0 && error == EACCES) {
        fd = ::open(lockFile_.c_str(), O_RDONLY | O_CLOEXEC); // made by another user
        // Not there at all: the folder itself refused the new file.
        if (fd < 0 && errno != ENOENT)
            error = errno;
    }
    if (fd < 0) {
        failure_ = InstanceLockFailure::NoLockFile;
        failureError_ = error;
        return false;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error = errno;
        ::close(fd);
        failure_ = error == EWOULDBLOCK ? InstanceLockFailure::HeldElsewhere : InstanceLockFailure::NoLockFile;
        failureError_ = error;
        return false;
    }
    fd_ = fd;
    failure_ = InstanceLockFailure::None;
    return true;
}

} // namespace vantrel
