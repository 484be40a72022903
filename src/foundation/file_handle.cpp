// FileHandle over a POSIX descriptor. A file that is open for writing
// cannot be opened for writing again (an upload in progress, a mailbox
// being written): the writer registry keeps them; readers are never
// refused. Every open is non-blocking, so that a named pipe or a device
// cannot hold the opening thread, and only regular files are kept.
#include "foundation/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "foundation/file_system.h"
#include "foundation/writer_registry.h"

namespace vantrel {

namespace {

FileTime fromTimespec(const timespec& ts)
{
    return FileTime{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec)};
}

// Writes everything or reports failure; a write that writes nothing ends it.
bool writeFully(int fd, const void* bytes, std::size_t count)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FileHandle::~FileHandle()
{
    close();
}

bool FileHandle::open(std::string_view path, FileMode mode, IfMissing missing)
{
    close();
    const int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (mode == FileMode::Write ? O_RDWR : O_RDONLY);
    // The path as written first: it opens whenever every name exists
    // exactly, which is what the case-insensitive resolution would pick.
    // Only a missing name needs the resolution (and only then may a file
    // be created, so that a name differing in case is found first).
    int fd = ::open(slashedPath(path).c_str(), flags);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        const std::string local = localPath(path);
        fd = ::open(local.c_str(), missing == IfMissing::Create ? flags | O_CREAT : flags, 0666);
    }
    return adopt(fd, mode);
}

bool FileHandle::adopt(int descriptor, FileMode mode)
{
    close();
    if (descriptor < 0)
        return false;
    struct stat st {};
    // Our opens set no status flag but O_NONBLOCK, so clearing them all
    // clears it without asking for the current ones first.
    if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(descriptor, F_SETFL, 0) != 0) {
        ::close(descriptor);
        return false;
    }
    if (mode == FileMode::Write) {
        const FileIdentity identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        if (!WriterRegistry::instance().claim(identity)) {
            ::close(descriptor);
            return false;
        }
        // Deleted here between the open and the claim: what would be
        // written could never be found again.
        if (::fstat(descriptor, &st) != 0 || st.st_nlink == 0) {
            WriterRegistry::instance().release(identity);
            ::close(descriptor);
            return false;
        }
        dev_ = identity.device;
        ino_ = identity.inode;
    }
    openedSize_ = static_cast<std::uint64_t>(st.st_size);
    openedWriteTime_ = fromTimespec(st.st_mtim);
    fd_ = descriptor;
    mode_ = mode;
    if (mode == FileMode::Write && st.st_size > 0) {
        seekToEnd();
    } else {
        atEnd_ = st.st_size == 0;
    }
    return true;
}

void FileHandle::close()
{
    if (fd_ < 0)
        return;
    if (mode_ == FileMode::Write)
        WriterRegistry::instance().release(FileIdentity{dev_, ino_});
    ::close(fd_);
    fd_ = -1;
    atEnd_ = false;
    mode_ = FileMode::Read;
    dev_ = 0;
    ino_ = 0;
    openedSize_ = 0;
    openedWriteTime_ = FileTime{};
}

std::size_t FileHandle::read(void* buffer, std::size_t count)
{
    if (fd_ < 0 || count == 0)
        return 0;
    auto* p = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, p + got, count - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    // A read error ends reading as the end of the file does, so that no
    // caller loops on a file that can no longer be read.
    if (got < count)
        atEnd_ = true;
    return got;
}

std::size_t FileHandle::write(const void* bytes, std::size_t count)
{
    if (fd_ < 0 || count == 0)
        return 0;
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool FileHandle::writeAll(const void* bytes, std::size_t count)
{
    if (fd_ < 0 || mode_ != FileMode::Write)
        return false;
    return writeFully(fd_, bytes, count);
}

std::uint64_t FileHandle::size() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool FileHandle::seekTo(std::uint64_t offset)
{
    if (fd_ < 0)
        return false;
    const std::uint64_t length = size();
    if (offset > length)
        return false;
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return false;
    atEnd_ = offset == length || length == 0;
    return true;
}

void FileHandle::seekToEnd()
{
    if (fd_ < 0)
        return;
    ::lseek(fd_, 0, SEEK_END);
    atEnd_ = true;
}

void FileHandle::rewind()
{
    if (fd_ < 0)
        return;
    ::lseek(fd_, 0, SEEK_SET);
    atEnd_ = size() == 0;
}

bool FileHandle::truncateAt(std::uint64_t length)
{
    if (fd_ < 0 || mode_ != FileMode::Write)
        return false;
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
        return false;
    if (::lseek(fd_, static_cast<off_t>(length), SEEK_SET) < 0)
        return false;
    atEnd_ = true;
    return true;
}

std::size_t FileHandle::readTextLine(char* buffer, std::size_t capacity)
{
    if (capacity < 1)
        return 0;
    std::size_t stored = 0;
    if (fd_ < 0) {
        buffer[0] = '\0';
        return 0;
    }
    // Reads ahead in blocks but consumes byte by byte, then leaves the file
    // position just after the last byte consumed.
    off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) {
        atEnd_ = true;
        buffer[0] = '\0';
        return 0;
    }
    char block[512];
    std::size_t have = 0;
    std::size_t next = 0;
    bool afterCr = false;
    while (stored < capacity - 1) {
        if (next == have) {
            const ssize_t n = ::pread(fd_, block, sizeof block, position);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                atEnd_ = true;
                break;
            }
            have = static_cast<std::size_t>(n);
            next = 0;
        }
        const char c = block[next++];
        ++position;
        if (c == '\n' && afterCr)
            break;
        afterCr = c == '\r';
        if (c != '\r')
            buffer[stored++] = c;
    }
    ::lseek(fd_, position, SEEK_SET);
    buffer[stored] = '\0';
    return stored;
}

bool FileHandle::lastWriteTime(FileTime& time) const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return false;
    time = fromTimespec(st.st_mtim);
    return true;
}

bool FileHandle::creationTime(FileTime& time) const
{
    if (fd_ < 0)
        return false;
    struct statx sx {};
    if (::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return false;
    const statx_timestamp& stamp = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    time = FileTime{static_cast<std::int64_t>(stamp.tv_sec), static_cast<std::int32_t>(stamp.tv_nsec)};
    return true;
}

bool FileHandle::keepWritesAtEnd()
{
    // Of the status flags only O_APPEND is ever set on our descriptors.
    return fd_ >= 0 && mode_ == FileMode::Write && ::fcntl(fd_, F_SETFL, O_APPEND) == 0;
}

bool FileHandle::writeLogLine(std::string_view text)
{
    if (fd_ < 0)
        return false;
    std::string line = longDateText(timeNow(), TimeZone::Local);
    line += " -> ";
    line.append(text);
    line += "\r\n";
    return writeFully(fd_, line.data(), line.size());
}

} // namespace vantrel
