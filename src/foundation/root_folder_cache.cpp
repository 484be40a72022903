// RootFolderCache: one stat of the folder's path per request in place of
// opening the folder; only a path that names an existing folder exactly is
// kept (a name found by its case alone is resolved afresh each time).
#include "foundation/root_folder_cache.h"

#include "foundation/file_system.h"

#include <sys/stat.h>

namespace vantrel {

std::shared_ptr<const RootFolder> RootFolderCache::open(std::string_view folder)
{
    struct stat st {};
    const std::string direct = slashedPath(folder);
    const bool exact = !folder.empty() && ::stat(direct.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const auto device = static_cast<std::uint64_t>(st.st_dev);
    const auto inode = static_cast<std::uint64_t>(st.st_ino);
    if (exact) {
        const LockGuard guard(lock_);
        for (const Entry& entry : entries_) {
            if (entry.device == device && entry.inode == inode && entry.folder == folder)
                return entry.root;
        }
    }
    auto root = std::make_shared<const RootFolder>(folder);
    std::uint64_t heldDevice = 0;
    std::uint64_t heldInode = 0;
    // Kept only when what was opened is what the path led to just before.
    if (!exact || !root->identity(heldDevice, heldInode) || heldDevice != device || heldInode != inode)
        return root;
    const LockGuard guard(lock_);
    Entry entry{std::string(folder), device, inode, root};
    if (entries_.size() < MaxFolders) {
        entries_.push_back(std::move(entry));
    } else {
        entries_[nextReplaced_] = std::move(entry);
        nextReplaced_ = (nextReplaced_ + 1) % MaxFolders;
    }
    return root;
}

} // namespace vantrel
