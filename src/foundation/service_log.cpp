// ServiceLog and NumberedLog: every access to a log file is one
// open-write-close under the log's lock, so lines of different sessions
// never interleave and the path never changes in the middle of a write.
#include "foundation/service_log.h"

#include <limits>

#include "foundation/file_handle.h"

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
    FileHandle file;
    if (!file.open(path_, FileMode::Write, IfMissing::Create))
        return false;
    return file.writeLogLine(line);
}

bool ServiceLog::writeHeaderIfEmpty(std::string_view header)
{
    const LockGuard guard(lock_);
    FileHandle file;
    if (!file.open(path_, FileMode::Write, IfMissing::Create))
        return false;
    if (file.size() != 0)
        return false;
    return file.writeLogLine(header);
}

NumberedLog::NumberedLog(std::string_view prefix, std::string_view header)
    : prefix_(prefix), header_(header)
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
