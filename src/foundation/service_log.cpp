// ServiceLog and NumberedLog: every line is written whole, at the file's
// end, under the log's lock, so lines of different sessions never
// interleave and the path never changes in the middle of a write. The file
// stays open between lines; before each line the path is looked up again,
// and a file that was deleted, moved away or replaced is let go and the
// path opened (or created) anew, as if it were opened for every line.
#include "foundation/service_log.h"

#include <sys/stat.h>

#include <limits>

#include "foundation/file_system.h"

namespace vantrel {

namespace {

constexpr std::string_view LogFileExtension = ".txt";

// A line's text must not start a line of its own in the file.
std::string withoutLineBreaks(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

} // namespace

void ServiceLog::setPath(std::string_view path)
{
    const LockGuard guard(lock_);
    path_.assign(path.substr(0, std::min(path.size(), MaxPathLength)));
    held_.close();
}

bool ServiceLog::holdFile()
{
    struct stat st {};
    if (held_.isOpen()) {
        if (::stat(heldPath_.c_str(), &st) == 0 && st.st_dev == heldDevice_ && st.st_ino == heldInode_)
            return true;
        held_.close();
    }
    if (!held_.open(path_, FileMode::Write, IfMissing::Create))
        return false;
    if (!held_.keepWritesAtEnd()) {
        held_.close();
        return false;
    }
    // Kept only where the path names the file exactly; a name found by
    // its case alone is looked up afresh each time, as the exact name
    // would win should it appear.
    heldPath_ = slashedPath(path_);
    if (::fstat(held_.descriptor(), &st) != 0 || localPath(path_) != heldPath_) {
        heldDevice_ = 0;
        heldInode_ = 0;
        heldPath_.clear();
    } else {
        heldDevice_ = st.st_dev;
        heldInode_ = st.st_ino;
    }
    return true;
}

std::string ServiceLog::path() const
{
    const LockGuard guard(lock_);
    return path_;
}

std::uint64_t ServiceLog::size()
{
    const LockGuard guard(lock_);
    FileHandle file;
    if (!file.open(path_, FileMode::Read, IfMissing::Create))
        return 0;
    return file.size();
}

bool ServiceLog::appendLine(std::string_view text)
{
    const std::string line = withoutLineBreaks(text);
    const LockGuard guard(lock_);
    if (!holdFile())
        return false;
    if (held_.writeLogLine(line))
        return true;
    held_.close();
    return false;
}

bool ServiceLog::writeHeaderIfEmpty(std::string_view header)
{
    const LockGuard guard(lock_);
    if (!holdFile())
        return false;
    if (held_.size() != 0)
        return false;
    if (held_.writeLogLine(header))
        return true;
    held_.close();
    return false;
}

NumberedLog::NumberedLog(std::string_view prefix, std::string_view header) : prefix_(prefix), header_(header)
{
    pointAt(0);
}

void NumberedLog::openNumber(std::int32_t number)
{
    number_ = number;
    pointAt(number_);
    rollOver();
}

void NumberedLog::rollOver()
{
    while (log_.size() > FileLimit - 1 && number_ < std::numeric_limits<std::int32_t>::max()) {
        ++number_;
        pointAt(number_);
    }
    log_.writeHeaderIfEmpty(header_);
}

void NumberedLog::pointAt(std::int32_t number)
{
    std::string path = prefix_;
    path += std::to_string(number);
    path += LogFileExtension;
    log_.setPath(path);
}

} // namespace vantrel
