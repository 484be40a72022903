// folderWritable over stat and faccessat with the effective ids, the ones
// that the later writes are made with.
#include "foundation/folder_check.h"

#include "foundation/file_system.h"
#include "foundation/product.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace vantrel {

namespace {

constexpr char TextFolderUnusable[] = "%s: the folder %s cannot be written (%s).\n";

} // namespace

bool folderWritable(std::string_view path, int& error)
{
    const std::string local = localPath(path);
    struct stat st {};
    if (::stat(local.c_str(), &st) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = ENOTDIR;
        return false;
    }
    // Making a file in a folder needs both: writing to it and entering it.
    if (::faccessat(AT_FDCWD, local.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        error = errno;
        return false;
    }
    error = 0;
    return true;
}

bool foldersWritable(std::span<const std::string_view> folders)
{
    bool all = true;
    for (const std::string_view folder : folders) {
        int error = 0;
        if (folderWritable(folder, error))
            continue;
        all = false;
        std::string named = localPath(folder);
        if (named.empty() || named.front() != '/')
            named = currentDirectory() + '/' + named;
        std::fprintf(stderr, TextFolderUnusable, ProductName, named.c_str(), std::strerror(error));
    }
    return all;
}

} // namespace vantrel
