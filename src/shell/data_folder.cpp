// Making and entering the data folder; see data_folder.h.
#include "shell/data_folder.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// Like "mkdir -p": an existing folder is no error; an existing file is.
bool makeFolders(const std::string& path)
{
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        if (end == std::string::npos)
            break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace

bool enterDataFolder(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    return makeFolders(path) && ::chdir(path.c_str()) == 0;
}

} // namespace vantrel
