// The check a service makes before it starts listening: each folder it
// writes into (its logs, its mail) exists and may be written, so that a
// folder that cannot take files stops the start with its reason, instead of
// sessions that later fail one by one without a word.
#pragma once

#include <span>
#include <string_view>

namespace vantrel {

// The folder (a working-folder path with "\" or "/", found without regard
// to letter case like every file) exists, is a folder, and files may be
// made in it. False with the system's reason (an errno value) in `error`.
[[nodiscard]] bool folderWritable(std::string_view path, int& error);
// Checks every folder; each one that fails is named with its reason in one
// line on standard error. True when all pass.
[[nodiscard]] bool foldersWritable(std::span<const std::string_view> folders);

} // namespace vantrel
