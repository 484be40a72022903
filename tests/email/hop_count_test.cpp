// The hop count as a table of header blocks, each counted from the bytes
// and from a file holding them: what counts as a "Received:" line, where
// the header block ends, and where counting stops.
#include "email/hop_count.h"

#include "../foundation/scratch_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

struct HopCase {
    const char* what;
    std::string message;
    int limit;
    int hops;
};

std::string receivedLines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "Received: from hop" + std::to_string(i) + " by next; Mon, 01 Jan 2049 00:00:00\r\n";
    return lines;
}

// One header line of exactly `length` bytes, its CR LF included.
std::string fillerLine(std::size_t length)
{
    return "X-Filler: " + std::string(length - 12, 'x') + "\r\n";
}

TEST(HopCount, CountsReceivedLinesOfTheHeaderBlock)
{
    const HopCase cases[] = {
        {"empty message", "", HopLimit, 0},
        {"no received line", "Subject: hi\r\n\r\nbody\r\n.\r\n", HopLimit, 0},
        {"any letter case", "RECEIVED: a\r\nreceived: b\r\nReCeIvEd:c\r\nSubject: x\r\n\r\n", HopLimit, 3},
        {"continuation lines belong to their header",
         "Received: from a\r\n\tby b\r\n Received: folded\r\n\tReceived: folded\r\n\r\n", HopLimit, 1},
        {"body lines do not count", "Received: a\r\nSubject: x\r\n\r\nReceived: b\r\nReceived: c\r\n", HopLimit, 1},
        {"an empty line of a bare LF ends the header", "Received: a\n\nReceived: b\n", HopLimit, 1},
        {"a message that starts with its body", "\r\nReceived: a\r\n", HopLimit, 0},
        {"other names", "Received : a\r\nReceived\r\nX-Received: a\r\nReceivedBy: a\r\nReceive: a\r\n\r\n", HopLimit,
         0},
        {"a last line without its line break", "Subject: x\r\nReceived:", HopLimit, 1},
        {"stops at the limit", receivedLines(40) + "\r\n", HopLimit, HopLimit},
        {"stops at a smaller limit", receivedLines(40), 5, 5},
        {"no limit, no count", receivedLines(3), 0, 0},
        {"a name across two file blocks", fillerLine(4092) + "Received: a\r\n\r\n", HopLimit, 1},
        {"within the header bytes looked at", receivedLines(1) + fillerLine(200 * 1024) + receivedLines(1), HopLimit,
         2},
        {"beyond the header bytes looked at", receivedLines(1) + fillerLine(HopHeaderScanLimit) + receivedLines(1),
         HopLimit, 1},
    };
    testing::ScratchFolder folder;
    const std::string path = folder / "message";
    for (const HopCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(countHops(c.message, c.limit), c.hops);
        testing::writeBytes(path, c.message);
        int hops = -1;
        ASSERT_TRUE(countHopsInFile(path, c.limit, hops));
        EXPECT_EQ(hops, c.hops);
    }
    int hops = -1;
    EXPECT_FALSE(countHopsInFile(folder / "missing", HopLimit, hops));
}

} // namespace
} // namespace vantrel
