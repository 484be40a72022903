// RootFolder over openat2(2) with RESOLVE_BENEATH, or over a walk with
// O_NOFOLLOW on kernels without it. Looking a path up (for the letter case
// of its names) and acting on it are separate steps, so the lookup decides
// nothing about safety: every step and the final action open relative to
// the folder's descriptor under the kernel's confinement again.
#include "foundation/root_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "foundation/directory_scan.h"
#include "foundation/file_at.h"
#include "foundation/file_system.h"
#include "foundation/root_links.h"
#include "foundation/root_open.h"
#include "foundation/text.h"

namespace vantrel {

namespace {

using Descriptor = RootDescriptor;

std::vector<std::string_view> namesOf(std::string_view path)
{
    std::vector<std::string_view> names;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = pos;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        if (end > pos)
            names.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return names;
}

void appendName(std::string& path, std::string_view name)
{
    if (!path.empty())
        path.push_back('/');
    path.append(name);
}

// The names as written, "/" between them.
std::string joinedNames(const std::vector<std::string_view>& names)
{
    std::string path;
    for (const std::string_view name : names)
        appendName(path, name);
    return path;
}

} // namespace

RootFolder::RootFolder(std::string_view folder) : RootFolder(folder, Confinement::Beneath) {}

RootFolder::RootFolder(std::string_view folder, Confinement confinement)
{
    if (folder.empty())
        return;
    folderLength_ = folder.size() + (isSeparator(folder.back()) ? 0 : 1);
    local_ = localPath(folder);
    const std::string& local = local_;
    if (confinement == Confinement::Beneath) {
        fd_ = openBeneath(AT_FDCWD, local.c_str(), O_PATH | O_DIRECTORY, 0, 0);
        // A kernel (or a sandbox) without openat2 refuses the call itself.
        if (fd_ >= 0 || (errno != ENOSYS && errno != EPERM))
            return;
    }
    confinement_ = Confinement::NoLinks;
    fd_ = ::open(local.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

RootFolder::~RootFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RootFolder::identity(std::uint64_t& device, std::uint64_t& inode) const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return false;
    device = static_cast<std::uint64_t>(st.st_dev);
    inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

bool RootFolder::fits(std::string_view relative) const
{
    while (!relative.empty() && isSeparator(relative.front()))
        relative.remove_prefix(1);
    return folderLength_ + relative.size() <= MaxPath;
}

int RootFolder::openConfined(const std::string& path, int flags, unsigned mode) const
{
    if (fd_ < 0) {
        errno = ENOENT;
        return -1;
    }
    if (confinement_ == Confinement::NoLinks)
        return openWalking(path, flags, mode);
    const int fd = openBeneathRoot(fd_, path, flags, mode);
    // EXDEV: the path leaves the root, or takes an absolute link, which may
    // lead back inside. Only then is the path walked name by name.
    if (fd >= 0 || errno != EXDEV)
        return fd;
    return openFollowingRootLinks(fd_, path, flags, mode, spellingsOf(local_));
}

int RootFolder::openWalking(const std::string& path, int flags, unsigned mode) const
{
    const std::vector<std::string_view> names = namesOf(path);
    int folder = fd_;
    int owned = -1;
    const auto fail = [&owned](int error) {
        if (owned >= 0)
            ::close(owned);
        errno = error;
        return -1;
    };
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        if (names[i] == ".")
            continue;
        if (names[i] == "..")
            return fail(EXDEV);
        const std::string name(names[i]);
        const int next = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (next < 0 || ::fstat(next, &st) != 0 || !S_ISDIR(st.st_mode)) {
            const int error = next < 0 ? errno : ELOOP;
            if (next >= 0)
                ::close(next);
            return fail(error);
        }
        if (owned >= 0)
            ::close(owned);
        owned = folder = next;
    }
    const std::string last = names.empty() ? std::string(".") : std::string(names.back());
    if (last == "..")
        return fail(EXDEV);
    const int fd = ::openat(folder, last.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return fail(errno);
    // With O_PATH a link opens as itself instead of failing.
    struct stat st {};
    if ((flags & O_PATH) != 0 && (::fstat(fd, &st) != 0 || S_ISLNK(st.st_mode))) {
        ::close(fd);
        return fail(ELOOP);
    }
    if (owned >= 0)
        ::close(owned);
    return fd;
}

bool RootFolder::reaches(const std::string& path) const
{
    const Descriptor fd(openConfined(path, O_PATH));
    return fd.get() >= 0;
}

std::string RootFolder::onDiskPath(std::string_view relative) const
{
    const std::vector<std::string_view> names = namesOf(relative);
    const std::string exact = joinedNames(names);
    // The common case costs one lookup: every name exists as written.
    if (names.empty() || reaches(exact))
        return exact;
    std::string resolved;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string candidate = resolved;
        appendName(candidate, names[i]);
        if (reaches(candidate)) {
            resolved = std::move(candidate);
            continue;
        }
        const Descriptor folder(openConfined(resolved, O_RDONLY | O_DIRECTORY));
        std::string found;
        if (folder.get() >= 0 && findNameIgnoringCase(folder.get(), names[i], found)) {
            appendName(resolved, found);
            continue;
        }
        // Nothing below a missing name can exist: the rest stays as given.
        for (; i < names.size(); ++i)
            appendName(resolved, names[i]);
        break;
    }
    return resolved;
}

bool RootFolder::openFile(std::string_view relative, FileMode mode, IfMissing missing, FileHandle& file) const
{
    file.close();
    const std::string exact = joinedNames(namesOf(relative));
    if (!fits(relative) || exact.empty() || (mode == FileMode::Write && hasControlByte(exact)))
        return false;
    const int flags = O_NONBLOCK | O_NOCTTY | (mode == FileMode::Write ? O_RDWR : O_RDONLY);
    // The path as written opens whenever every name exists exactly; only a
    // missing name needs the lookup (and only then may a file be created,
    // so that a name differing in case is found first).
    int fd = openConfined(exact, flags);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        const std::string path = onDiskPath(relative);
        fd = openConfined(path, flags);
        if (fd < 0 && errno == ENOENT && missing == IfMissing::Create)
            fd = openConfined(path, flags | O_CREAT, 0666);
    }
    return file.adopt(fd, mode);
}

bool RootFolder::describe(std::string_view relative, FindRecord& record) const
{
    if (!fits(relative))
        return false;
    const std::string path = onDiskPath(relative);
    const Descriptor fd(openConfined(path, O_PATH));
    if (fd.get() < 0 || !describeEntryAt(fd.get(), "", FollowLinks::No, record))
        return false;
    const std::size_t cut = path.rfind('/');
    record.name = cut == std::string::npos ? path : path.substr(cut + 1);
    return true;
}

int RootFolder::openFolder(std::string_view relative) const
{
    if (!fits(relative))
        return -1;
    return openConfined(onDiskPath(relative), O_RDONLY | O_DIRECTORY);
}

bool RootFolder::isFolder(std::string_view relative) const
{
    const Descriptor fd(openFolder(relative));
    return fd.get() >= 0;
}

int RootFolder::openParent(std::string_view relative, std::string& name) const
{
    if (!fits(relative))
        return -1;
    const std::string path = onDiskPath(relative);
    const std::size_t cut = path.rfind('/');
    name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.empty() || name == "." || name == "..")
        return -1;
    return openConfined(cut == std::string::npos ? std::string() : path.substr(0, cut), O_PATH | O_DIRECTORY);
}

bool RootFolder::createFolder(std::string_view relative) const
{
    std::string name;
    const Descriptor parent(hasControlByte(relative) ? -1 : openParent(relative, name));
    return parent.get() >= 0 && ::mkdirat(parent.get(), name.c_str(), 0777) == 0;
}

bool RootFolder::removeFolder(std::string_view relative) const
{
    std::string name;
    const Descriptor parent(openParent(relative, name));
    return parent.get() >= 0 && ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0;
}

bool RootFolder::deleteFile(std::string_view relative) const
{
    std::string name;
    const Descriptor parent(openParent(relative, name));
    return parent.get() >= 0 && deleteFileAt(parent.get(), name.c_str());
}

bool RootFolder::move(std::string_view from, std::string_view to) const
{
    if (hasControlByte(to))
        return false;
    std::string fromName;
    std::string toName;
    const Descriptor fromParent(openParent(from, fromName));
    const Descriptor toParent(openParent(to, toName));
    return fromParent.get() >= 0 && toParent.get() >= 0 &&
           moveEntryAt(fromParent.get(), fromName.c_str(), toParent.get(), toName.c_str());
}

} // namespace vantrel
