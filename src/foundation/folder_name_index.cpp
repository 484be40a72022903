// FolderNameIndex: a folder is read outside the lock, sorted by lower-case
// name, and kept by (device, inode) together with its change times; a
// lookup whose fstat shows other times reads the folder again.
#include "foundation/folder_name_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

namespace vantrel {

namespace {

unsigned char lowerByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// Orders by the lower-case form only.
bool lessIgnoringCase(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = lowerByte(a[i]);
        const unsigned char y = lowerByte(b[i]);
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return !lessIgnoringCase(a, b) && !lessIgnoringCase(b, a);
}

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool readNames(int folder, std::vector<std::string>& names)
{
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return false;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return false;
    }
    while (const dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        if (lessIgnoringCase(a, b))
            return true;
        return !lessIgnoringCase(b, a) && a < b;
    });
    return true;
}

} // namespace

FolderNameIndex& FolderNameIndex::instance()
{
    static FolderNameIndex index;
    return index;
}

bool FolderNameIndex::find(int folder, std::string_view name, std::string& found)
{
    struct stat st {};
    if (::fstat(folder, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    const Stamp stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                      nanoseconds(st.st_ctim), nanoseconds(st.st_mtim)};
    std::shared_ptr<const Names> names = cached(stamp);
    if (!names) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        auto read = std::make_shared<Names>();
        if (!readNames(folder, *read))
            return false;
        {
            LockGuard guard(lock_);
            ++scans_;
        }
        const bool settled = std::max(stamp.changed, stamp.modified) + SettleNanoseconds < nanoseconds(now);
        names = read;
        if (settled)
            keep(stamp, std::move(read));
    }
    const auto at =
        std::lower_bound(names->begin(), names->end(), name,
                         [](const std::string& entry, std::string_view key) { return lessIgnoringCase(entry, key); });
    if (at == names->end() || !sameIgnoringCase(*at, name))
        return false;
    found = *at;
    return true;
}

std::uint64_t FolderNameIndex::scans() const
{
    LockGuard guard(lock_);
    return scans_;
}

std::shared_ptr<const FolderNameIndex::Names> FolderNameIndex::cached(const Stamp& stamp)
{
    LockGuard guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->stamp.device != stamp.device || it->stamp.inode != stamp.inode)
            continue;
        if (!(it->stamp == stamp)) {
            names_ -= it->names->size();
            entries_.erase(it);
            return nullptr;
        }
        entries_.splice(entries_.begin(), entries_, it);
        return it->names;
    }
    return nullptr;
}

void FolderNameIndex::keep(const Stamp& stamp, std::shared_ptr<const Names> names)
{
    if (names->size() > MaxNames)
        return;
    LockGuard guard(lock_);
    // Another session may have read the same folder meanwhile.
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->stamp.device == stamp.device && it->stamp.inode == stamp.inode) {
            names_ -= it->names->size();
            entries_.erase(it);
            break;
        }
    }
    while (!entries_.empty() && (entries_.size() >= MaxFolders || names_ + names->size() > MaxNames)) {
        names_ -= entries_.back().names->size();
        entries_.pop_back();
    }
    names_ += names->size();
    entries_.push_front(Entry{stamp, std::move(names)});
}

} // namespace vantrel
