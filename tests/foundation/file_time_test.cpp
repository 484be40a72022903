// Date texts, time conversions, the bounded formatting and the tick count.
#include "foundation/file_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "foundation/clock.h"
#include "foundation/text.h"

namespace vantrel {
namespace {

TEST(DateText, LongAndShortForms)
{
    const DateParts parts{2048, 11, 5, 6, 8, 49, 37};
    EXPECT_EQ(formatDateText(parts, DateForm::Long), "Fri, 06 Nov 2048 08:49:37");
    EXPECT_EQ(formatDateText(parts, DateForm::Short), "Nov 06 08:49");
    EXPECT_EQ(formatDateText({999, 12, 0, 31, 23, 10, 0}, DateForm::Long), "Sun, 31 Dec 999 23:10:00");
    EXPECT_EQ(formatDateText({2001, 1, 6, 1, 0, 9, 10}, DateForm::Long), "Sat, 01 Jan 2001 00:09:10");
    // Nonsense never indexes past the name tables.
    EXPECT_EQ(formatDateText({2020, 13, 7, 1, 0, 0, 0}, DateForm::Long), "???, 01 ??? 2020 00:00:00");
    EXPECT_EQ(formatDateText({2020, 0, -1, 1, 0, 0, 0}, DateForm::Short), "??? 01 00:00");
}

TEST(DateText, UtcAndLocalTime)
{
    const FileTime example{2488265377, 0}; // 2048-11-06 08:49:37 UTC
    EXPECT_EQ(formatDateText(utcParts(FileTime{0, 0}), DateForm::Long), "Thu, 01 Jan 1970 00:00:00");
    EXPECT_EQ(formatDateText(utcParts(example), DateForm::Long), "Fri, 06 Nov 2048 08:49:37");
    ::setenv("TZ", "XST5", 1); // five hours behind UTC, no daylight saving
    ::tzset();
    EXPECT_EQ(formatFileTime(example, DateForm::Long), "Fri, 06 Nov 2048 03:49:37");
    EXPECT_EQ(formatFileTime(example, DateForm::Short), "Nov 06 03:49");
    ::unsetenv("TZ");
    ::tzset();

    // Against the same clock read directly: std::time may lag it by a tick.
    timespec before{};
    ::clock_gettime(CLOCK_REALTIME, &before);
    const FileTime now = timeNow();
    timespec after{};
    ::clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_GE(now.seconds, before.tv_sec);
    EXPECT_LE(now.seconds, after.tv_sec);
}

TEST(FileTimeText, TheRememberedLongTextIsAlwaysTheTextOfItsSecondAndZone)
{
    // More distinct seconds than the per-thread memory holds, asked in an
    // interleaved order and in both zones, with other nanoseconds.
    const std::int64_t seconds[] = {0, 2486882977, 86399, 2486882978, 951782400, 2486882977, 1, 86399};
    for (int round = 0; round < 3; ++round) {
        for (const std::int64_t second : seconds) {
            for (const TimeZone zone : {TimeZone::Utc, TimeZone::Local}) {
                const FileTime time{second, 1000 * round};
                const DateParts parts = zone == TimeZone::Utc ? utcParts(time) : localParts(time);
                EXPECT_EQ(longDateText(time, zone), formatDateText(parts, DateForm::Long)) << second;
            }
        }
    }
    EXPECT_EQ(longDateText(FileTime{2486882977, 0}, TimeZone::Utc), "Wed, 21 Oct 2048 08:49:37");
}

TEST(TextAndClock, BoundedFormattingAndTicks)
{
    const std::string big(5000, 'q');
    EXPECT_EQ(formatText(5, "%s-%d", "abcdefgh", 1), "abcde");
    EXPECT_EQ(formatText(4096, "<%s>", big.c_str()), "<" + big.substr(0, 4095));
    EXPECT_EQ(formatText(static_cast<std::size_t>(-1), "%s", big.c_str()), big);
    EXPECT_FALSE(equalsIgnoreCase("\xC4", "\xE4")); // ASCII only

    const std::uint32_t start = tickCount();
    sleepMs(20);
    EXPECT_GE(static_cast<std::uint32_t>(tickCount() - start), 20u);
}

} // namespace
} // namespace vantrel
