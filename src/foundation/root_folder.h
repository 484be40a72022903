// RootFolder: a folder that the paths of a client cannot leave. It holds
// the folder's descriptor and opens every path relative to it, so that the
// kernel refuses a way out at the moment of the open: ".." above the
// folder, and a symbolic link that leads outside it, also one swapped in
// after the path was looked at. Links that stay inside keep working, also
// one that names its target by an absolute path below the folder's own
// (root_links.h). Names
// are found without ASCII letter case one folder at a time, as the path
// functions of file_system.h find them, and only regular files open. What
// cannot be reached inside the folder is treated as missing.
#pragma once

#include "foundation/file_handle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

struct FindRecord;

// How the kernel keeps a path inside the folder.
enum class Confinement {
    // openat2 with RESOLVE_BENEATH: links are followed while they stay
    // inside, absolute ones included.
    Beneath,
    // Kernels without openat2: a walk one name at a time with O_NOFOLLOW,
    // which refuses every link, also one that would stay inside.
    NoLinks,
};

class RootFolder final {
public:
    // `folder` is a system path, resolved as file_system.h resolves paths
    // (the operator's folder may itself be reached through links). An
    // empty or missing folder opens nothing, and then every operation fails.
    explicit RootFolder(std::string_view folder);
    // NoLinks on request; Beneath only where the kernel has it.
    RootFolder(std::string_view folder, Confinement confinement);
    ~RootFolder();
    RootFolder(const RootFolder&) = delete;
    RootFolder& operator=(const RootFolder&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // The device and inode of the folder held open; false when none is.
    bool identity(std::uint64_t& device, std::uint64_t& inode) const;
    Confinement confinement() const { return confinement_; }

    // Every `relative` below is names joined by "\" or "/"; "" is the
    // folder itself. A path that does not fit the system's path length
    // together with the folder names nothing: it is never cut to fit.
    bool fits(std::string_view relative) const;

    // The path with every existing name in its letter case on disk and "/"
    // between names; the first missing name and those after it stay as given.
    std::string onDiskPath(std::string_view relative) const;

    // A regular file only; writing also needs a path without control bytes.
    [[nodiscard]] bool openFile(std::string_view relative, FileMode mode, IfMissing missing, FileHandle& file) const;
    // What the path leads to (name: its last name); false when it leads
    // nowhere inside the folder.
    [[nodiscard]] bool describe(std::string_view relative, FindRecord& record) const;
    // An existing folder that can be enumerated.
    bool isFolder(std::string_view relative) const;
    // A descriptor to enumerate the folder with, closed by the caller; -1
    // when there is none.
    int openFolder(std::string_view relative) const;
    // One level; the path without control bytes.
    [[nodiscard]] bool createFolder(std::string_view relative) const;
    // Only an empty folder.
    [[nodiscard]] bool removeFolder(std::string_view relative) const;
    // Not a folder, not a file open for writing here; a link goes, not
    // what it leads to.
    [[nodiscard]] bool deleteFile(std::string_view relative) const;
    // Refuses an existing target, a file open for writing here and a
    // target path with control bytes.
    [[nodiscard]] bool move(std::string_view from, std::string_view to) const;

private:
    // The one confined open, of a path as onDiskPath gives it.
    int openConfined(const std::string& path, int flags, unsigned mode = 0) const;
    int openWalking(const std::string& path, int flags, unsigned mode) const;
    bool reaches(const std::string& path) const;
    // The folder holding the last name (O_PATH) and that name; -1 when the
    // path has no last name to act on.
    int openParent(std::string_view relative, std::string& name) const;

    int fd_ = -1;
    Confinement confinement_ = Confinement::Beneath;
    // The folder's local path, for absolute links that name it.
    std::string local_;
    std::size_t folderLength_ = 0; // the folder's path with one final separator
};

} // namespace vantrel
