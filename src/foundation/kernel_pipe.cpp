// KernelPipe over pipe2 and splice.
#include "foundation/kernel_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vantrel {

KernelPipe::~KernelPipe()
{
    close();
}

bool KernelPipe::open(std::size_t capacity)
{
    close();
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    // Best effort: a smaller pipe only means smaller pieces. A process over
    // its share of pipe memory may even get a pipe of two pages.
    ::fcntl(writeEnd_, F_SETPIPE_SZ, static_cast<int>(capacity));
    const int held = ::fcntl(writeEnd_, F_GETPIPE_SZ);
    capacity_ = held > 0 ? static_cast<std::size_t>(held) : 0;
    return true;
}

void KernelPipe::close()
{
    if (readEnd_ >= 0) {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
    readEnd_ = -1;
    writeEnd_ = -1;
    capacity_ = 0;
}

bool KernelPipe::drainTo(int file, std::size_t length)
{
    while (length > 0) {
        // The bytes are already in the pipe, so this never waits for them;
        // a regular file's write is not affected by the non-blocking end.
        const ssize_t moved = ::splice(readEnd_, nullptr, file, nullptr, length, SPLICE_F_MOVE);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        length -= static_cast<std::size_t>(moved);
    }
    return true;
}

} // namespace vantrel
