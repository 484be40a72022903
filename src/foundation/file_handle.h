// FileHandle: one open file with a remembered mode and an at-end flag.
// Paths use the system's "\" separators and are resolved case-insensitively
// (file_system.h). A file open for writing cannot be opened for writing a
// second time in this process (writer_registry.h); readers are never
// refused. Only regular files open: a pipe, device or socket is refused
// without waiting for it.
#pragma once

#include "foundation/file_time.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel {

enum class FileMode {
    Read,
    Write
};
enum class IfMissing {
    Fail,
    Create
};

class FileHandle final {
public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // A non-empty file opened for writing is positioned at its end: writes
    // append, nothing is truncated.
    [[nodiscard]] bool open(std::string_view path, FileMode mode, IfMissing missing);
    // Takes over a descriptor opened with O_NONBLOCK and no other status
    // flag (O_NONBLOCK is cleared here) and the access of `mode`. Refused,
    // and the descriptor closed, unless it is a regular file that, for
    // writing, nobody here writes.
    [[nodiscard]] bool adopt(int descriptor, FileMode mode);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Bytes read; fewer than asked sets at end.
    std::size_t read(void* buffer, std::size_t count);
    std::size_t write(const void* bytes, std::size_t count);
    // False when not open for writing, or a write wrote nothing (full disk).
    [[nodiscard]] bool writeAll(const void* bytes, std::size_t count);
    std::uint64_t size() const;
    bool atEnd() const { return atEnd_; }
    // False beyond the size.
    bool seekTo(std::uint64_t offset);
    void seekToEnd();
    void rewind();
    // Cuts the file to `length` bytes and positions at that length.
    [[nodiscard]] bool truncateAt(std::uint64_t length);
    // One CR LF terminated line, CR dropped; returns the characters stored.
    std::size_t readTextLine(char* buffer, std::size_t capacity);
    bool lastWriteTime(FileTime& time) const;
    // Size and last write time as they were at open, without asking the
    // system again (a reader that sends a file it has just opened).
    std::uint64_t sizeAtOpen() const { return openedSize_; }
    FileTime writeTimeAtOpen() const { return openedWriteTime_; }
    bool creationTime(FileTime& time) const;
    // Date, " -> ", text, CR LF at the current position.
    bool writeLogLine(std::string_view text);
    // From now on every write lands at the file's end as it is then, even
    // when someone else has written to the file meanwhile (a log held open).
    [[nodiscard]] bool keepWritesAtEnd();
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    bool atEnd_ = false;
    FileMode mode_ = FileMode::Read;
    std::uint64_t dev_ = 0;
    std::uint64_t ino_ = 0;
    std::uint64_t openedSize_ = 0;
    FileTime openedWriteTime_{};
};

} // namespace vantrel
