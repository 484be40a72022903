// The one gate for every path an FTP client names. A client's argument is
// joined to the session's current directory, cleaned by normalizePath on its
// own and only then put below the account folder, so that nothing a client
// sends can name a file outside that folder.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// A path below the account folder in its two forms.
struct FtpPath {
    std::string relative;  // names joined by "\", no leading separator; "" is the folder itself
    std::string full;      // account folder followed by relative: what the file system sees
};

// A bare "/" or "\" names the account folder itself, which every command
// answers in its own way.
enum class PathKind { Resolved, BareRoot };

// argument: the text after the command word (present, not empty).
// currentDirectory: "/" followed by names joined by "/".
[[nodiscard]] PathKind resolvePath(std::string_view accountFolder, std::string_view currentDirectory,
                                   std::string_view argument, FtpPath& path);

// The account folder followed by a relative path, cut to the system's path
// length. A folder without its final separator still keeps the path below it.
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
