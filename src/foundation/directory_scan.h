// DirectoryScan: one running enumeration of a folder that yields files,
// folders or both, "." and ".." included, in the file system's order.
#pragma once

#include "foundation/file_time.h"

#include <dirent.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

struct FindRecord {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    FileTime creationTime;   // birth time where recorded, else last write
    FileTime lastWriteTime;
};

enum class ScanKinds { Files = 1, Folders = 2, Both = 3 };

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
    bool next(FindRecord& record);
    void close();

private:
    DIR* dir_ = nullptr;
    std::string pattern_;  // the last name's wildcard pattern
    ScanKinds kinds_ = ScanKinds::Both;
};

// True when the path names an existing folder that can be enumerated.
bool directoryExists(std::string_view folder);

} // namespace vantrel
