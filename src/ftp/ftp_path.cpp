// Path resolution for the FTP commands. The relative part is normalised on
// its own (".." cannot climb above its start, dot names vanish, device
// names become "xxx") before the account folder is put in front of it.
#include "ftp/ftp_path.h"

#include "foundation/file_system.h"
#include "foundation/normalize_path.h"
#include "foundation/text.h"

#include <algorithm>

namespace vantrel {

namespace {

// "/" to "\" and then the shared clean-up; false when it had to cut.
bool normalizeRelative(std::string& path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return normalizePath(path);
}

} // namespace

std::string relativeOfDirectory(std::string_view currentDirectory)
{
    std::string relative(currentDirectory.substr(!currentDirectory.empty() && currentDirectory.front() == '/' ? 1 : 0));
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
    return full;
}

PathKind resolvePath(std::string_view accountFolder, std::string_view currentDirectory, std::string_view argument,
                     FtpPath& path)
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
    const bool whole = normalizeRelative(joined);
    path.relative = std::move(joined);
    path.full = fullPathOf(accountFolder, path.relative);
    return whole && path.full.size() <= MaxPath ? PathKind::Resolved : PathKind::TooLong;
}

FtpPath currentDirectoryPath(std::string_view accountFolder, std::string_view currentDirectory)
{
    FtpPath path;
    path.relative = relativeOfDirectory(currentDirectory);
    // CWD accepted the current directory, so it is never cut here.
    normalizeRelative(path.relative);
    path.full = fullPathOf(accountFolder, path.relative);
    return path;
}

std::string displayPathOf(std::string_view relative)
{
    std::string display = "/";
    display.append(relative);
    std::replace(display.begin(), display.end(), '\\', '/');
    return display;
}

} // namespace vantrel
