// Path mapping and the folder operations of the file layer. Clients and
// settings name files without regard to letter case; localPath gives them
// that view on Linux by resolving every existing name without ASCII case
// where the exact name is missing.
#include "foundation/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/file_at.h"
#include "foundation/file_handle.h"
#include "foundation/text.h"

namespace vantrel {

namespace {

bool nameExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` whose name equals `name` without ASCII case.
bool findIgnoringCase(const std::string& folder, std::string_view name, std::string& found)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool any = findNameIgnoringCase(fd, name, found);
    ::close(fd);
    return any;
}

bool statPath(std::string_view path, struct stat& st)
{
    const std::string local = localPath(path);
    return ::stat(local.c_str(), &st) == 0;
}

} // namespace

std::string slashedPath(std::string_view systemPath)
{
    std::string result(systemPath);
    for (char& c : result) {
        if (c == '\\')
            c = '/';
    }
    return result;
}

std::string localPath(std::string_view systemPath)
{
    // The common case costs one lookup: when the whole path exists as
    // written, every name in it matched exactly, which is what the walk
    // below would keep.
    std::string direct = slashedPath(systemPath);
    if (nameExists(direct))
        return direct;
    std::string result;
    result.reserve(systemPath.size());
    // Once a name is missing nothing below it can exist: the rest is copied.
    bool resolving = true;
    std::size_t pos = 0;
    while (pos <= systemPath.size()) {
        std::size_t end = pos;
        while (end < systemPath.size() && systemPath[end] != '/' && systemPath[end] != '\\')
            ++end;
        const std::string_view name = systemPath.substr(pos, end - pos);
        if (!name.empty()) {
            const std::size_t parentLength = result.size();
            result.append(name);
            if (resolving && name != "." && name != ".." && !nameExists(result)) {
                std::string found;
                const std::string parent = result.substr(0, parentLength);
                if (findIgnoringCase(parent, name, found))
                    result.replace(parentLength, name.size(), found);
                else
                    resolving = false;
            }
        }
        if (end == systemPath.size())
            break;
        result.push_back('/');
        pos = end + 1;
    }
    return result;
}

bool pathExists(std::string_view path)
{
    struct stat st {};
    return statPath(path, st);
}

bool isDirectory(std::string_view path)
{
    struct stat st {};
    return statPath(path, st) && S_ISDIR(st.st_mode);
}

bool createDirectory(std::string_view path)
{
    const std::string local = localPath(path);
    return ::mkdir(local.c_str(), 0777) == 0;
}

bool removeDirectory(std::string_view path)
{
    const std::string local = localPath(path);
    return ::rmdir(local.c_str()) == 0;
}

bool moveFile(std::string_view from, std::string_view to)
{
    const std::string source = localPath(from);
    const std::string target = localPath(to);
    return moveEntryAt(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str());
}

bool copyFile(std::string_view from, std::string_view to)
{
    FileHandle source;
    if (!source.open(from, FileMode::Read, IfMissing::Fail))
        return false;
    FileHandle target;
    if (!target.open(to, FileMode::Write, IfMissing::Create))
        return false;
    // Copying a file onto itself would cut it to nothing before reading it.
    struct stat a {};
    struct stat b {};
    if (::fstat(source.descriptor(), &a) != 0 || ::fstat(target.descriptor(), &b) != 0 ||
        (a.st_dev == b.st_dev && a.st_ino == b.st_ino))
        return false;
    return target.truncateAt(0) && copyContents(source, target);
}

bool deleteFile(std::string_view path)
{
    const std::string local = localPath(path);
    return deleteFileAt(AT_FDCWD, local.c_str());
}

bool fileSize(std::string_view path, std::uint64_t& size)
{
    struct stat st {};
    if (!statPath(path, st) || S_ISDIR(st.st_mode))
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool syncFolderOf(std::string_view localFile)
{
    const std::size_t slash = localFile.rfind('/');
    const std::string folder = slash == std::string_view::npos ? std::string(".")
                               : slash == 0                    ? std::string("/")
                                                               : std::string(localFile.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error; // the caller may report why
    return synced;
}

bool syncFileData(std::string_view path)
{
    // Any descriptor of the file will do; reading ones are never refused.
    FileHandle file;
    return file.open(path, FileMode::Read, IfMissing::Fail) && ::fdatasync(file.descriptor()) == 0;
}

bool renameToNewName(const std::string& from, std::string_view to)
{
    const std::size_t slash = to.find_last_of("\\/");
    const std::string target = slash == std::string_view::npos
                                   ? std::string(to)
                                   : localPath(to.substr(0, slash)) + "/" + std::string(to.substr(slash + 1));
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
}

std::string tempFolder()
{
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string folder = (fromEnvironment != nullptr && *fromEnvironment != '\0') ? fromEnvironment : "/tmp";
    if (folder.back() != '/')
        folder.push_back('/');
    return folder;
}

bool anchorTempFolder()
{
    const char* fromEnvironment = std::getenv("TMPDIR");
    if (fromEnvironment == nullptr || *fromEnvironment == '\0' || *fromEnvironment == '/')
        return true;
    const std::string current = currentDirectory();
    if (current.empty())
        return false;
    const std::string absolute = current + '/' + fromEnvironment;
    return ::setenv("TMPDIR", absolute.c_str(), 1) == 0;
}

bool makeTempFile(std::string_view folder, std::string_view prefix, std::string& path)
{
    std::string local = localPath(folder);
    if (!local.empty() && local.back() != '/')
        local.push_back('/');
    std::string name = local;
    for (const char c : prefix)
        name.push_back(c == '/' || c == '\\' ? '_' : c);
    name += "XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    path = std::move(name);
    return true;
}

std::string currentDirectory()
{
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr)
            return std::string(buffer.data());
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace vantrel
