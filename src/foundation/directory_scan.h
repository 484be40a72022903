// DirectoryScan: one running enumeration of a folder that yields files,
// folders or both, "." and ".." included, in the file system's order.
// Below a RootFolder the enumeration stays inside the root: an entry that
// is a link is described by what it leads to inside the root, and left
// out when it leads nowhere there.
#pragma once

#include "foundation/file_time.h"

#include <dirent.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class RootFolder;

struct FindRecord {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    FileTime creationTime; // birth time where recorded, else last write
    FileTime lastWriteTime;
};

enum class ScanKinds {
    Files = 1,
    Folders = 2,
    Both = 3
};

class DirectoryScan final {
public:
    DirectoryScan() = default;
    ~DirectoryScan();
    DirectoryScan(const DirectoryScan&) = delete;
    DirectoryScan& operator=(const DirectoryScan&) = delete;

    // Enumerates the folder (with or without a final "\").
    bool first(std::string_view folder, FindRecord& record, ScanKinds kinds);
    // Enumerates a pattern: a folder path whose last name may hold "*" and
    // "?" ("*.*" matches every name), matched without letter case.
    bool firstMatch(std::string_view pattern, FindRecord& record, ScanKinds kinds);
    // The same for a folder below `root`, which must outlive the scan.
    bool first(const RootFolder& root, std::string_view folder, FindRecord& record, ScanKinds kinds);
    bool firstMatch(const RootFolder& root, std::string_view pattern, FindRecord& record, ScanKinds kinds);
    bool next(FindRecord& record);
    void close();

private:
    bool start(DIR* dir, std::string_view namePattern, FindRecord& record, ScanKinds kinds);
    bool describe(const char* name, unsigned char type, FindRecord& record) const;

    DIR* dir_ = nullptr;
    const RootFolder* root_ = nullptr;
    std::string folder_;  // below root_: the folder's path on disk
    std::string pattern_; // the last name's wildcard pattern
    ScanKinds kinds_ = ScanKinds::Both;
};

// True when the path names an existing folder that can be enumerated.
bool directoryExists(std::string_view folder);

} // namespace vantrel
