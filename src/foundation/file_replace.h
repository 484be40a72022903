// Whole-file writes that never leave a half-written file behind. The bytes
// go to a temporary file beside the target, named "NAME.PID.N.tmp", which
// is flushed to disk and then renamed over the target, and the folder is
// synced so that the rename is on disk too. A process killed in
// the middle leaves only such a temporary file, and the next start removes
// the ones whose process no longer runs.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

enum class IfExists {
    Replace,
    Keep
};

// Writes the file whole or not at all: on false the target is as it was
// and errno tells why, except when only the sync of the folder failed (the
// new bytes are then in place, but not sure to outlive a crash). With
// IfExists::Keep an existing target is never replaced (the result is then
// false), not even one that appears while the bytes are written. The path
// is a local one (see localPath). `mode` is the new file's permissions
// (less the process's umask) from its first byte on: a private key is
// never readable by others, not even for a moment.
[[nodiscard]] bool writeWholeFile(const std::string& path, std::string_view bytes,
                                  IfExists existing = IfExists::Replace, unsigned mode = 0666);

// Removes the "NAME.PID.N.tmp" files in `folder` whose process is no longer
// running; returns how many were removed.
int removeStaleTemporaryFiles(std::string_view folder);

} // namespace vantrel
