// Writing a file through a temporary file and a rename, and clearing away
// the temporary files of processes that died before their rename.
#include "foundation/file_replace.h"

#include "foundation/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vantrel {

namespace {

constexpr std::string_view TemporarySuffix = ".tmp";
// Attempts at a temporary name that no other write of this process holds.
constexpr int NameAttempts = 8;

bool writeAllTo(int fd, std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Puts the finished temporary file in place of the target.
bool moveIntoPlace(const std::string& temporary, const std::string& path, IfExists existing)
{
    if (existing == IfExists::Replace)
        return ::rename(temporary.c_str(), path.c_str()) == 0;
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a link is refused by an
    // existing name just the same.
    if (::link(temporary.c_str(), path.c_str()) != 0)
        return false;
    ::unlink(temporary.c_str());
    return true;
}

bool allDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The process id of a "NAME.PID.N.tmp" name, or 0 when it is no such name.
pid_t writerOf(std::string_view name)
{
    if (name.size() <= TemporarySuffix.size() || name.substr(name.size() - TemporarySuffix.size()) != TemporarySuffix)
        return 0;
    name.remove_suffix(TemporarySuffix.size());
    const std::size_t counterDot = name.rfind('.');
    if (counterDot == std::string_view::npos || !allDigits(name.substr(counterDot + 1)))
        return 0;
    name = name.substr(0, counterDot);
    const std::size_t pidDot = name.rfind('.');
    if (pidDot == std::string_view::npos || pidDot == 0)
        return 0;
    const std::string_view digits = name.substr(pidDot + 1);
    if (!allDigits(digits) || digits.size() > 9)
        return 0;
    return static_cast<pid_t>(std::strtol(std::string(digits).c_str(), nullptr, 10));
}

bool processRuns(pid_t pid)
{
    // EPERM: it runs, under another user.
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// A name beside the target that no other write of this process uses.
std::string temporaryNameFor(const std::string& path)
{
    static std::atomic<unsigned> counter{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(::getpid()), counter.fetch_add(1));
    return path + suffix;
}

} // namespace

bool writeWholeFile(const std::string& path, std::string_view bytes, IfExists existing, unsigned mode)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < NameAttempts && fd < 0; ++attempt) {
        temporary = temporaryNameFor(path);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool written = writeAllTo(fd, bytes);
    written = written && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && !moveIntoPlace(temporary, path, existing)) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        errno = error; // the caller may report why
        return false;
    }
    // The new name is in place; it survives a crash once its folder is synced.
    return syncFolderOf(path);
}

int removeStaleTemporaryFiles(std::string_view folder)
{
    const std::string base = folder.empty() ? std::string(".") : std::string(folder);
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t writer = writerOf(entry->d_name);
        if (writer <= 0 || writer == ::getpid() || processRuns(writer))
            continue;
        const std::string path = base + "/" + entry->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace vantrel
