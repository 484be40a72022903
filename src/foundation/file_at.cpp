// Folder-relative file operations shared by the path functions and the
// root-confined ones, with the writer registry consulted before a file's
// name goes away.
#include "foundation/file_at.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "foundation/directory_scan.h"
#include "foundation/file_handle.h"
#include "foundation/folder_name_index.h"
#include "foundation/text.h"
#include "foundation/writer_registry.h"

namespace vantrel {

namespace {

FileTime fromStamp(const statx_timestamp& stamp)
{
    return FileTime{static_cast<std::int64_t>(stamp.tv_sec), static_cast<std::int32_t>(stamp.tv_nsec)};
}

FileIdentity identityOf(const struct stat& st)
{
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Opens a name of a folder without following it, for the copy of a move.
bool openEntry(int folder, const char* name, int flags, FileMode mode, FileHandle& file)
{
    const int fd = ::openat(folder, name, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
    return file.adopt(fd, mode);
}

// A move between file systems: copy, then remove the original unless a
// writer opened it meanwhile (then the copy goes again).
bool moveByCopy(int fromFolder, const char* fromName, int toFolder, const char* toName, const struct stat& source)
{
    FileHandle from;
    FileHandle to;
    if (!openEntry(fromFolder, fromName, O_RDONLY, FileMode::Read, from) ||
        !openEntry(toFolder, toName, O_RDWR | O_CREAT | O_EXCL, FileMode::Write, to))
        return false;
    const bool copied = copyContents(from, to);
    to.close();
    if (copied && WriterRegistry::instance().unlessWritten(identityOf(source),
                                                           [&] { return ::unlinkat(fromFolder, fromName, 0) == 0; }))
        return true;
    ::unlinkat(toFolder, toName, 0);
    return false;
}

} // namespace

bool findNameIgnoringCase(int folder, std::string_view name, std::string& found)
{
    return FolderNameIndex::instance().find(folder, name, found);
}

bool describeEntryAt(int folder, const char* name, FollowLinks follow, FindRecord& record)
{
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    const int flags = follow == FollowLinks::Yes ? 0 : AT_SYMLINK_NOFOLLOW;
    struct statx sx {};
    if (::statx(folder, name, flags | (*name == '\0' ? AT_EMPTY_PATH : 0), mask, &sx) != 0)
        return false;
    record.isDirectory = S_ISDIR(sx.stx_mode);
    record.size = record.isDirectory ? 0 : sx.stx_size;
    record.lastWriteTime = fromStamp(sx.stx_mtime);
    record.creationTime = (sx.stx_mask & STATX_BTIME) ? fromStamp(sx.stx_btime) : record.lastWriteTime;
    return true;
}

bool deleteFileAt(int folder, const char* name)
{
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
        return false;
    return WriterRegistry::instance().unlessWritten(identityOf(st), [&] { return ::unlinkat(folder, name, 0) == 0; });
}

bool moveEntryAt(int fromFolder, const char* fromName, int toFolder, const char* toName)
{
    struct stat st {};
    if (::fstatat(fromFolder, fromName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    int error = 0;
    const bool moved = WriterRegistry::instance().unlessWritten(identityOf(st), [&] {
        if (::renameat2(fromFolder, fromName, toFolder, toName, RENAME_NOREPLACE) == 0)
            return true;
        error = errno;
        if (error != EINVAL && error != ENOSYS)
            return false;
        // A file system without RENAME_NOREPLACE: check, then rename.
        struct stat target {};
        if (::fstatat(toFolder, toName, &target, AT_SYMLINK_NOFOLLOW) == 0)
            return false;
        return ::renameat(fromFolder, fromName, toFolder, toName) == 0;
    });
    if (moved || error != EXDEV || !S_ISREG(st.st_mode))
        return moved;
    return moveByCopy(fromFolder, fromName, toFolder, toName, st);
}

bool copyContents(FileHandle& source, FileHandle& target)
{
    const std::uint64_t expected = source.size();
    std::uint64_t copied = 0;
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        const std::size_t got = source.read(buffer.data(), buffer.size());
        if (got > 0 && !target.writeAll(buffer.data(), got))
            return false;
        copied += got;
        if (got < buffer.size())
            return copied == expected;
    }
}

} // namespace vantrel
