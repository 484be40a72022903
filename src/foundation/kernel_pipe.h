// KernelPipe: a pipe held by one transfer, through which bytes received on
// a socket reach a file without being copied through this process (the
// system hands the socket's pages to the pipe, and from there to the file).
#pragma once

#include <cstddef>

namespace vantrel {

class KernelPipe final {
public:
    KernelPipe() = default;
    ~KernelPipe();
    KernelPipe(const KernelPipe&) = delete;
    KernelPipe& operator=(const KernelPipe&) = delete;

    // Non-blocking ends; the pipe is asked to hold `capacity` bytes (it may
    // stay smaller). False when the system has no descriptor to spare.
    [[nodiscard]] bool open(std::size_t capacity);
    void close();
    bool isOpen() const { return writeEnd_ >= 0; }
    int writeEnd() const { return writeEnd_; }
    // What the open pipe holds when empty: what one receive into it may
    // bring at most, when the bytes cannot be left in the socket.
    std::size_t capacity() const { return capacity_; }

    // Moves `length` bytes that are in the pipe to `file` at its position,
    // which advances. False when the file takes no more (a full disk).
    [[nodiscard]] bool drainTo(int file, std::size_t length);

private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::size_t capacity_ = 0;
};

} // namespace vantrel
