// MessageList: where each entry lives, and snapshots that keep what they
// saw while the list grows past them or starts over.
#include "email/message_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

MessageEntry entry(std::size_t n)
{
    return MessageEntry{"email\\" + std::to_string(n) + "@u_e.dat", "id" + std::to_string(n), n + 4};
}

TEST(MessageList, SegmentsDoubleInSize)
{
    struct Case {
        std::size_t index, segment, offset;
    };
    const Case cases[] = {{0, 0, 0},   {7, 0, 7},  {8, 1, 0},    {23, 1, 15}, {24, 2, 0},
                          {55, 2, 31}, {56, 3, 0}, {119, 3, 63}, {120, 4, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(MessageList::segmentOf(c.index), c.segment) << c.index;
        EXPECT_EQ(MessageList::offsetIn(c.segment, c.index), c.offset) << c.index;
    }
}

TEST(MessageList, SnapshotsKeepWhatTheySaw)
{
    MessageList list;
    std::vector<MessageList::Snapshot> snapshots;
    snapshots.push_back(list.snapshot());
    for (std::size_t n = 0; n < 1000; ++n) {
        list.append(entry(n));
        if (n % 97 == 0)
            snapshots.push_back(list.snapshot());
    }
    ASSERT_EQ(list.size(), 1000u);
    EXPECT_EQ(snapshots.front().size(), 0u);
    for (const auto& snapshot : snapshots) {
        for (std::size_t n = 0; n < snapshot.size(); ++n) {
            ASSERT_EQ(snapshot[n].path, entry(n).path);
            ASSERT_EQ(snapshot[n].id, entry(n).id);
            ASSERT_EQ(snapshot[n].size, n + 4);
        }
    }

    // Starting over leaves the earlier snapshots alone.
    const MessageList::Snapshot before = list.snapshot();
    list.clear();
    list.append(entry(5000));
    EXPECT_EQ(list.snapshot().size(), 1u);
    EXPECT_EQ(list.snapshot()[0].id, "id5000");
    ASSERT_EQ(before.size(), 1000u);
    EXPECT_EQ(before[0].id, "id0");
    EXPECT_EQ(before[999].id, "id999");
}

} // namespace
} // namespace vantrel
