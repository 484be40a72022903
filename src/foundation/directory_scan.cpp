// DirectoryScan over opendir/readdir. A search is a folder plus a wildcard
// pattern for the last name, matched without ASCII letter case the way the
// server's clients expect ("*.*" is every name, "name.*" also finds "name").
#include "foundation/directory_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/file_at.h"
#include "foundation/file_system.h"
#include "foundation/root_folder.h"
#include "foundation/text.h"

namespace vantrel {

namespace {

constexpr std::string_view EveryName = "*.*";

// "*" matches any run, "?" any one character. Iterative with one
// backtracking point, so hostile patterns cost at most name x pattern.
bool wildcardMatch(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || lowerByte(pattern[p]) == lowerByte(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool nameMatches(std::string_view pattern, std::string_view name)
{
    if (pattern.empty() || pattern == EveryName || pattern == "*")
        return true;
    if (wildcardMatch(pattern, name))
        return true;
    // "name.*" also matches a name without an extension.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" && name.find('.') == std::string_view::npos)
        return wildcardMatch(pattern.substr(0, pattern.size() - 2), name);
    return false;
}

bool wants(ScanKinds kinds, bool isFolder)
{
    const int bits = static_cast<int>(kinds);
    return isFolder ? (bits & static_cast<int>(ScanKinds::Folders)) != 0
                    : (bits & static_cast<int>(ScanKinds::Files)) != 0;
}

// Splits "folder\pattern" at its last separator.
void splitPattern(std::string_view full, std::string_view& folder, std::string_view& pattern)
{
    const std::size_t cut = full.find_last_of("\\/");
    if (cut == std::string_view::npos) {
        folder = {};
        pattern = full;
    } else {
        folder = full.substr(0, cut + 1);
        pattern = full.substr(cut + 1);
    }
}

std::string folderPattern(std::string_view folder)
{
    std::string pattern(folder);
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
        pattern.push_back('\\');
    pattern += EveryName;
    return pattern;
}

DIR* openFolder(std::string_view folder)
{
    const std::string local = localPath(folder);
    return ::opendir(local.empty() ? "." : local.c_str());
}

} // namespace

DirectoryScan::~DirectoryScan()
{
    close();
}

bool DirectoryScan::first(std::string_view folder, FindRecord& record, ScanKinds kinds)
{
    return firstMatch(folderPattern(folder), record, kinds);
}

bool DirectoryScan::first(const RootFolder& root, std::string_view folder, FindRecord& record, ScanKinds kinds)
{
    return firstMatch(root, folderPattern(folder), record, kinds);
}

bool DirectoryScan::firstMatch(std::string_view pattern, FindRecord& record, ScanKinds kinds)
{
    close();
    std::string_view folder;
    std::string_view namePattern;
    splitPattern(pattern, folder, namePattern);
    return start(openFolder(folder), namePattern, record, kinds);
}

bool DirectoryScan::firstMatch(const RootFolder& root, std::string_view pattern, FindRecord& record, ScanKinds kinds)
{
    close();
    std::string_view folder;
    std::string_view namePattern;
    splitPattern(pattern, folder, namePattern);
    std::string onDisk = root.onDiskPath(folder);
    const int fd = root.openFolder(onDisk);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr && fd >= 0)
        ::close(fd);
    root_ = &root;
    folder_ = std::move(onDisk);
    return start(dir, namePattern, record, kinds);
}

bool DirectoryScan::start(DIR* dir, std::string_view namePattern, FindRecord& record, ScanKinds kinds)
{
    dir_ = dir;
    if (dir_ == nullptr || (static_cast<int>(kinds) & static_cast<int>(ScanKinds::Both)) == 0) {
        close();
        return false;
    }
    pattern_.assign(namePattern);
    kinds_ = kinds;
    return next(record);
}

bool DirectoryScan::describe(const char* name, unsigned char type, FindRecord& record) const
{
    const int folder = dirfd(dir_);
    // Outside a root a link is described by what it points to, a dangling
    // one by the link itself.
    if (root_ == nullptr)
        return describeEntryAt(folder, name, FollowLinks::Yes, record) ||
               describeEntryAt(folder, name, FollowLinks::No, record);
    // The root's ".." lies outside it; it is shown as the root itself.
    if (folder_.empty() && std::string_view(name) == "..")
        return describeEntryAt(folder, ".", FollowLinks::No, record);
    struct stat st {};
    const bool isLink =
        type == DT_LNK ||
        (type == DT_UNKNOWN && ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode));
    if (!isLink)
        return describeEntryAt(folder, name, FollowLinks::No, record);
    std::string path = folder_;
    if (!path.empty())
        path.push_back('/');
    path += name;
    return root_->describe(path, record);
}

bool DirectoryScan::next(FindRecord& record)
{
    if (dir_ == nullptr)
        return false;
    while (const dirent* entry = ::readdir(dir_)) {
        if (!nameMatches(pattern_, entry->d_name))
            continue;
        FindRecord found;
        if (!describe(entry->d_name, entry->d_type, found) || !wants(kinds_, found.isDirectory))
            continue;
        found.name = entry->d_name;
        record = std::move(found);
        return true;
    }
    close();
    return false;
}

void DirectoryScan::close()
{
    if (dir_ != nullptr) {
        ::closedir(dir_);
        dir_ = nullptr;
    }
    root_ = nullptr;
    folder_.clear();
}

bool directoryExists(std::string_view folder)
{
    std::string_view parent;
    std::string_view pattern;
    const std::string full = folderPattern(folder);
    splitPattern(full, parent, pattern);
    DIR* dir = openFolder(parent);
    if (dir == nullptr)
        return false;
    ::closedir(dir);
    return true;
}

} // namespace vantrel
