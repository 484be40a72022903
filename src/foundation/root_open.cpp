// openat2 for the root-confined file operations.
#include "foundation/root_open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace vantrel {

namespace {

constexpr std::uint64_t ConfinedResolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
// openat2 asks for a retry when a rename raced a ".." step; a bounded few.
constexpr int RaceRetries = 16;

} // namespace

int openBeneath(int folder, const char* path, int flags, unsigned mode, std::uint64_t resolve)
{
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = resolve;
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, folder, path, &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        if (errno != EINTR && (errno != EAGAIN || attempt >= RaceRetries))
            return -1;
    }
}

int openBeneathRoot(int root, const std::string& path, int flags, unsigned mode)
{
    return openBeneath(root, path.empty() ? "." : path.c_str(), flags, mode, ConfinedResolve);
}

RootDescriptor::~RootDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace vantrel
