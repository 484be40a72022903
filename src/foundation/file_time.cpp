// Date texts and the conversions from file times to broken-down local or
// UTC time, over the C library's thread-safe calls.
#include "foundation/file_time.h"

#include <array>
#include <cstddef>
#include <ctime>

#include "foundation/text.h"

namespace vantrel {

namespace {

constexpr const char* DayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// A broken-down time from outside the C library may carry nonsense; it must
// not index past the name tables.
constexpr const char* UnknownName = "???";

const char* dayName(int dayOfWeek)
{
    return (dayOfWeek >= 0 && dayOfWeek < 7) ? DayNames[dayOfWeek] : UnknownName;
}

const char* monthName(int month)
{
    return (month >= 1 && month <= 12) ? MonthNames[month - 1] : UnknownName;
}

// "%d" above 9, "0%d" otherwise.
std::string twoDigits(int value)
{
    return value > 9 ? formatText(16, "%d", value) : formatText(16, "0%d", value);
}

DateParts partsOf(const std::tm& tm)
{
    DateParts parts;
    parts.year = tm.tm_year + 1900;
    parts.month = tm.tm_mon + 1;
    parts.dayOfWeek = tm.tm_wday;
    parts.day = tm.tm_mday;
    parts.hour = tm.tm_hour;
    parts.minute = tm.tm_min;
    parts.second = tm.tm_sec;
    return parts;
}

} // namespace

std::string formatDateText(const DateParts& parts, DateForm form)
{
    if (form == DateForm::Long) {
        return formatText(64, "%s, %s %s %d %s:%s:%s", dayName(parts.dayOfWeek), twoDigits(parts.day).c_str(),
                          monthName(parts.month), parts.year, twoDigits(parts.hour).c_str(),
                          twoDigits(parts.minute).c_str(), twoDigits(parts.second).c_str());
    }
    return formatText(64, "%s %s %s:%s", monthName(parts.month), twoDigits(parts.day).c_str(),
                      twoDigits(parts.hour).c_str(), twoDigits(parts.minute).c_str());
}

std::string longDateText(FileTime time, TimeZone zone)
{
    // A server formats "now" in local time for its logs and in UTC for
    // headers, and the times of the files it serves: a few slots suffice.
    constexpr std::size_t Slots = 4;
    struct Slot {
        std::int64_t seconds = 0;
        TimeZone zone = TimeZone::Utc;
        bool used = false;
        std::string text;
    };
    thread_local std::array<Slot, Slots> slots;
    thread_local std::size_t nextReplaced = 0;
    for (const Slot& slot : slots) {
        if (slot.used && slot.seconds == time.seconds && slot.zone == zone)
            return slot.text;
    }
    Slot& slot = slots[nextReplaced];
    nextReplaced = (nextReplaced + 1) % Slots;
    slot.seconds = time.seconds;
    slot.zone = zone;
    slot.used = true;
    slot.text = formatDateText(zone == TimeZone::Local ? localParts(time) : utcParts(time), DateForm::Long);
    return slot.text;
}

std::string formatFileTime(FileTime time, DateForm form)
{
    return formatDateText(localParts(time), form);
}

FileTime timeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTime{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec)};
}

DateParts localParts(FileTime time)
{
    const std::time_t t = static_cast<std::time_t>(time.seconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr)
        return DateParts{};
    return partsOf(tm);
}

DateParts utcParts(FileTime time)
{
    const std::time_t t = static_cast<std::time_t>(time.seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr)
        return DateParts{};
    return partsOf(tm);
}

} // namespace vantrel
