// The one gate for every path an FTP client names. A client's argument is
// joined to the session's current directory, cleaned by normalizePath on its
// own and only then put below the account folder, so that nothing a client
// sends can name a file outside that folder. The handlers then act on the
// relative path through a RootFolder of the account folder (root_folder.h),
// so that links cannot lead out of it either. A path too long for the
// system is refused whole, never cut to a shorter name.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// A path below the account folder in its two forms.
struct FtpPath {
    std::string relative; // names joined by "\", no leading separator; "" is the folder itself
    std::string full;     // account folder followed by relative: what the file system sees
};

// A bare "/" or "\" names the account folder itself, which every command
// answers in its own way. TooLong: the path would have to be cut to fit
// the system's path length; each command answers with its failure reply.
enum class PathKind {
    Resolved,
    BareRoot,
    TooLong
};

// argument: the text after the command word (present, not empty).
// currentDirectory: "/" followed by names joined by "/".
[[nodiscard]] PathKind resolvePath(std::string_view accountFolder, std::string_view currentDirectory,
                                   std::string_view argument, FtpPath& path);

// The account folder followed by a relative path. A folder without its
// final separator still keeps the path below it.
std::string fullPathOf(std::string_view accountFolder, std::string_view relative);

// The current directory as a path below the account folder; only the part
// below the folder is normalised, never the operator's folder itself.
FtpPath currentDirectoryPath(std::string_view accountFolder, std::string_view currentDirectory);

// "/" followed by the relative path with "/" between names: the form of the
// replies and of the current directory.
std::string displayPathOf(std::string_view relative);

// The current directory in the relative form ("a\b" for "/a/b").
std::string relativeOfDirectory(std::string_view currentDirectory);

} // namespace vantrel
