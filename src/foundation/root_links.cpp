// The walk that follows absolute links into the root. Each name is looked
// at without following it; a link's target is read and put in its place,
// so that the names walked so far are real folders below the root and ".."
// is judged on them. Only the final open acts, and it is confined again.
#include "foundation/root_links.h"

#include "foundation/root_open.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>

namespace vantrel {

namespace {

// As the kernel allows in one lookup.
constexpr int MaxLinkHops = 40;

std::vector<std::string> namesIn(std::string_view path)
{
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t end = std::min(path.find('/', pos), path.size());
        const std::string_view name = path.substr(pos, end - pos);
        if (!name.empty() && name != ".")
            names.emplace_back(name);
        pos = end + 1;
    }
    return names;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string path;
    for (const std::string& name : names) {
        if (!path.empty())
            path.push_back('/');
        path += name;
    }
    return path;
}

// The target of the link opened as `link` (O_PATH | O_NOFOLLOW).
bool readTarget(int link, std::string& target)
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlinkat(link, "", buffer, sizeof buffer);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer)
        return false;
    target.assign(buffer, static_cast<std::size_t>(length));
    return true;
}

int fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

RootSpellings spellingsOf(const std::string& localFolder)
{
    RootSpellings spellings;
    if (!localFolder.empty() && localFolder.front() == '/')
        spellings.push_back(namesIn(localFolder));
    char resolved[PATH_MAX];
    if (::realpath(localFolder.c_str(), resolved) != nullptr) {
        std::vector<std::string> names = namesIn(resolved);
        if (spellings.empty() || names != spellings.front())
            spellings.push_back(std::move(names));
    }
    return spellings;
}

bool belowRoot(std::string_view target, const RootSpellings& spellings, std::string& remainder)
{
    if (target.empty() || target.front() != '/')
        return false;
    const std::vector<std::string> names = namesIn(target);
    for (const std::vector<std::string>& root : spellings) {
        if (names.size() < root.size() || !std::equal(root.begin(), root.end(), names.begin()))
            continue;
        remainder =
            joined(std::vector<std::string>(names.begin() + static_cast<std::ptrdiff_t>(root.size()), names.end()));
        return true;
    }
    return false;
}

int openFollowingRootLinks(int root, const std::string& path, int flags, unsigned mode, const RootSpellings& spellings)
{
    std::vector<std::string> walked; // real folders below the root
    const std::vector<std::string> given = namesIn(path);
    std::deque<std::string> ahead(given.begin(), given.end());
    int hops = 0;
    while (!ahead.empty()) {
        std::string name = std::move(ahead.front());
        ahead.pop_front();
        if (name == "..") {
            if (walked.empty())
                return fail(EXDEV);
            walked.pop_back();
            continue;
        }
        walked.push_back(std::move(name));
        const RootDescriptor entry(openBeneathRoot(root, joined(walked), O_PATH | O_NOFOLLOW, 0));
        struct stat st {};
        if (entry.get() < 0 || ::fstat(entry.get(), &st) != 0) {
            // A missing name ends the walk as it is: the final open says
            // what it means (and may create the last name).
            walked.insert(walked.end(), ahead.begin(), ahead.end());
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            // ".." after a file must not undo it.
            if (!ahead.empty() && !S_ISDIR(st.st_mode))
                return fail(ENOTDIR);
            continue;
        }
        if (++hops > MaxLinkHops)
            return fail(ELOOP);
        std::string target;
        if (!readTarget(entry.get(), target))
            return fail(EIO);
        walked.pop_back();
        if (!target.empty() && target.front() == '/') {
            std::string remainder;
            if (!belowRoot(target, spellings, remainder))
                return fail(EXDEV);
            walked.clear();
            target = remainder;
        }
        const std::vector<std::string> names = namesIn(target);
        ahead.insert(ahead.begin(), names.begin(), names.end());
    }
    const std::string final = joined(walked);
    return openBeneathRoot(root, final.empty() ? "." : final, flags, mode);
}

} // namespace vantrel
