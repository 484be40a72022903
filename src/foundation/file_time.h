// FileTime and the date texts of logs, listings, HTTP headers and mail:
// the long form "Fri, 06 Nov 2048 08:49:37" and the short form "Nov 06 08:49".
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// A point in time in UTC, as the file system reports it.
struct FileTime {
    std::int64_t seconds = 0; // since 1970-01-01 00:00:00 UTC
    std::int32_t nanoseconds = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

struct DateParts {
    int year = 1970;
    int month = 1;     // 1 to 12
    int dayOfWeek = 4; // 0 = Sunday
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

enum class DateForm {
    Long,
    Short
};

std::string formatDateText(const DateParts& parts, DateForm form);
// Converts to local time first.
std::string formatFileTime(FileTime time, DateForm form);

enum class TimeZone {
    Local,
    Utc
};
// formatDateText(parts of `time`, DateForm::Long), remembered per thread for
// the last few seconds asked: the headers and log lines of one second
// format it once.
std::string longDateText(FileTime time, TimeZone zone);

FileTime timeNow();
DateParts localParts(FileTime time);
DateParts utcParts(FileTime time);
inline DateParts localNow()
{
    return localParts(timeNow());
}

} // namespace vantrel
