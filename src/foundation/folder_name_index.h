// FolderNameIndex: the case-insensitive lookup of a name in a folder,
// answered from a shared, bounded cache of folder listings so that a name
// that does not exist costs a stat and a binary search, not a folder scan.
#pragma once

#include "foundation/critical_lock.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

class FolderNameIndex final {
public:
    // Folders kept, and names kept over all of them; a larger folder is
    // scanned on every lookup instead of being kept.
    static constexpr std::size_t MaxFolders = 64;
    static constexpr std::size_t MaxNames = 400000;
    // A folder changed this recently may change again within the same tick
    // of its file system's clock (seconds on some), so its listing is not
    // kept until its change time is older than this when the scan begins.
    static constexpr std::int64_t SettleNanoseconds = 2'000'000'000;

    static FolderNameIndex& instance();

    // The entry of the open folder whose name equals `name` without ASCII
    // case; among several, the smallest in byte order.
    bool find(int folder, std::string_view name, std::string& found) VT_EXCLUDES(lock_);

    // How many times a folder was read from the disk, for tests.
    std::uint64_t scans() const VT_EXCLUDES(lock_);

private:
    // What identifies one state of a folder: any entry created, renamed or
    // removed moves its change and modification times.
    struct Stamp {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t changed = 0;
        std::int64_t modified = 0;
        bool operator==(const Stamp&) const = default;
    };
    // Names sorted by their lower-case form, then by bytes.
    using Names = std::vector<std::string>;
    struct Entry {
        Stamp stamp;
        std::shared_ptr<const Names> names;
    };

    std::shared_ptr<const Names> cached(const Stamp& stamp) VT_EXCLUDES(lock_);
    void keep(const Stamp& stamp, std::shared_ptr<const Names> names) VT_EXCLUDES(lock_);

    mutable CriticalLock lock_;
    std::list<Entry> entries_ VT_GUARDED_BY(lock_); // most recently used first
    std::size_t names_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t scans_ VT_GUARDED_BY(lock_) = 0;
};

} // namespace vantrel
