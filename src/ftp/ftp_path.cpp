// Path resolution for the FTP commands. The relative part is normalised on
// its own (".." cannot climb above its start, dot names vanish, device
// names become "xxx") before the account folder is put in front of it.
#include "ftp/ftp_path.h"

#include "foundation/file_system.h"
#include "foundation/normalize_path.h"

#include <algorithm>

namespace vantrel {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string cutToMaxPath(std::string text)
{
    if (text.size() > MaxPath)
        text.resize(MaxPath);
    return text;
}

// "/" to "\" and then the shared clean-up.
std::string normalizedRelative(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    normalizePath(path);
    return cutToMaxPath(std::move(path));
}

} // namespace

std::string relativeOfDirectory(std::string_view currentDirectory)
{
    std::string relative(currentDirectory.substr(
        !currentDirectory.empty() && currentDirectory.front() == '/' ? 1 : 0));
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return relative;
}

std::string fullPathOf(std::string_view accountFolder, std::string_view relative)
{
    std::string full(accountFolder);
    // A hand-made account file may lack the final "\"; without it
    // "C:\ftp" + "x" would name the sibling "C:\ftpx".
    if (!full.empty() && !isSeparator(full.back()))
        full.push_back('\\');
    full.append(relative);
    return cutToMaxPath(std::move(full));
}

PathKind resolvePath(std::string_view accountFolder, std::string_view currentDirectory,
                     std::string_view argument, FtpPath& path)
{
    std::string joined;
    if (!argument.empty() && isSeparator(argument.front())) {
        if (argument.size() == 1)
            return PathKind::BareRoot;
        joined.assign(argument.substr(1));
    } else {
        joined = relativeOfDirectory(currentDirectory);
        if (!joined.empty())
            joined.push_back('\\');
        joined.append(argument);
    }
    path.relative = normalizedRelative(std::move(joined));
    path.full = fullPathOf(accountFolder, path.relative);
    return PathKind::Resolved;
}

FtpPath currentDirectoryPath(std::string_view accountFolder, std::string_view currentDirectory)
{
    FtpPath path;
    path.relative = normalizedRelative(relativeOfDirectory(currentDirectory));
    path.full = fullPathOf(accountFolder, path.relative);
    return path;
}

std::string displayPathOf(std::string_view relative)
{
    std::string display = "/";
    display.append(relative);
    std::replace(display.begin(), display.end(), '\\', '/');
    return cutToMaxPath(std::move(display));
}

} // namespace vantrel
