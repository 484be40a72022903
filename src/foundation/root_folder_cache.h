// RootFolderCache: the open RootFolders of the last few folders named, so
// that a request need not open its site's folder again. Before one is
// handed out again, the path is looked up anew and must still lead to the
// very folder held open (device and inode; the open descriptor keeps the
// inode from being reused); otherwise, or when the path does not exist as
// written, a fresh RootFolder is opened as without the cache.
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/root_folder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class RootFolderCache final {
public:
    static constexpr std::size_t MaxFolders = 8;

    // A RootFolder of `folder`, shared with other callers; never null.
    std::shared_ptr<const RootFolder> open(std::string_view folder);

private:
    struct Entry {
        std::string folder;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::shared_ptr<const RootFolder> root;
    };

    CriticalLock lock_;
    std::vector<Entry> entries_ VT_GUARDED_BY(lock_);
    std::size_t nextReplaced_ VT_GUARDED_BY(lock_) = 0;
};

} // namespace vantrel
