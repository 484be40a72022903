// The file-system layer under every path the server touches. The system
// writes paths with "\"; here each "\" becomes "/", and a name that does not
// exist exactly is looked up without ASCII letter case, as the server's
// users expect from a desktop file system. New names keep the case given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// The longest path this program handles, without the terminating zero:
// its own limit, kept by every file name it stores or accepts.
constexpr std::size_t MaxPath = 260;

// The on-disk form of a system path: separators mapped and every existing
// name resolved case-insensitively (an exact match wins). Names that do not
// exist are kept as given.
std::string localPath(std::string_view systemPath);
// The path with its separators mapped only, no names resolved: what the
// on-disk form is whenever every name exists exactly as written.
std::string slashedPath(std::string_view systemPath);

bool pathExists(std::string_view path);
bool isDirectory(std::string_view path);
// One level; an existing folder is no error for callers that ignore the result.
bool createDirectory(std::string_view path);
// Only an empty folder.
bool removeDirectory(std::string_view path);
// Refuses an existing target and a file open for writing here.
bool moveFile(std::string_view from, std::string_view to);
// Replaces the target, unless it is open for writing here.
bool copyFile(std::string_view from, std::string_view to);
// Refuses folders and a file open for writing here.
bool deleteFile(std::string_view path);
// Size of a file, false when it cannot be read.
bool fileSize(std::string_view path, std::uint64_t& size);
// Makes the names in the folder that holds `localFile` (an on-disk path)
// durable: a name made or changed there by a rename survives a crash only
// once its folder is synced.
[[nodiscard]] bool syncFolderOf(std::string_view localFile);
// Waits until the bytes written to the file are on disk.
[[nodiscard]] bool syncFileData(std::string_view path);
// Renames the file at `from` (an on-disk path) to `to`, a system path whose
// folder exists, when no file has exactly that name; false otherwise. The
// folder is resolved as the file layer resolves names, the new name is
// taken as written: looking for it without letter case would read the
// whole folder for every new message.
[[nodiscard]] bool renameToNewName(const std::string& from, std::string_view to);

// $TMPDIR or /tmp, ending with "/".
std::string tempFolder();
// Makes a relative $TMPDIR absolute against the current folder, so that it
// names the same folder after the program has changed into another one.
// False when the current folder cannot be named or the variable not set.
[[nodiscard]] bool anchorTempFolder();
// Creates a new, unique, empty file in `folder` and returns its path.
bool makeTempFile(std::string_view folder, std::string_view prefix, std::string& path);
std::string currentDirectory();

} // namespace vantrel
