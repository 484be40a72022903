// The mailbox index on disk: deliveries append in place and leave exactly
// the bytes of a full rewrite, a crash between writing a record and
// counting it (or inside the record) leaves an index that loads with every
// committed message, and an index that is not what the account expects is
// rewritten whole.
#include "mail_test_support.h"

#include "email/mail_account.h"
#include "email/mailbox_index_file.h"
#include "foundation/settings_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::deliver;
using testing::fixed101;
using testing::le32;
using testing::listedMessages;
using testing::messageText;
using testing::readBytes;
using testing::record;
using testing::settingsFile;
using testing::writeBytes;
using testing::zeroEnded;

class MailboxIndexTest : public testing::MailFolderTest {
protected:
    // Ann's files as a hand-made mailbox with `count` messages numbered 0..count-1.
    static void writeMailbox(int count)
    {
        testing::writeAccountTable({"ann"});
        writeBytes("email/ann_s.dat",
                   settingsFile(3, record("count", le32(static_cast<std::uint32_t>(count))) +
                                       record("address", fixed101("ann@x.org")) + record("password", fixed101("pw"))));
        writeBytes("email/ann.dat", settingsFile(count, indexRecords(count)));
        for (int n = 0; n < count; ++n)
            writeBytes("email/" + std::to_string(n) + "@ann_e.dat", messageText(n));
    }

    static std::string indexRecord(int n, const std::string& id)
    {
        return record("email\\" + std::to_string(n) + "@ann_e.dat", zeroEnded(id));
    }

    static std::string indexRecords(int count)
    {
        std::string records;
        for (int n = 0; n < count; ++n)
            records += indexRecord(n, "id-" + std::to_string(n));
        return records;
    }

    static ino_t inodeOf(const std::string& path)
    {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_ino;
    }

    static int loadedRecords(const std::string& path)
    {
        SettingsStore store;
        EXPECT_TRUE(store.load(path)) << path;
        return store.count();
    }
};

TEST_F(MailboxIndexTest, DeliveriesLeaveTheBytesOfAFullRewrite)
{
    writeMailbox(3);
    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    const std::string id3 = deliver(directory, "ann@x.org", messageText(3));
    const std::string id4 = deliver(directory, "ann@x.org", messageText(4));
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(5, indexRecords(3) + indexRecord(3, id3) + indexRecord(4, id4)));

    // A deletion rewrites the whole file; appending goes on from there.
    auto pop = directory.openMailboxForLogin("ann", "pw");
    pop->markDeleted(1);
    directory.commitAndUnlock(std::move(pop));
    const std::string remaining =
        indexRecord(0, "id-0") + indexRecord(2, "id-2") + indexRecord(3, id3) + indexRecord(4, id4);
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(4, remaining));
    const std::string id5 = deliver(directory, "ann@x.org", messageText(5));
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(5, remaining + indexRecord(5, id5)));
}

TEST_F(MailboxIndexTest, ADeliveryAppendsInPlace)
{
    writeMailbox(200);
    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    const ino_t before = inodeOf("email/ann.dat");
    const std::string id = deliver(directory, "ann@x.org", messageText(200));
    // The same file grew: nothing was written beside it and renamed over it.
    EXPECT_EQ(inodeOf("email/ann.dat"), before);
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(201, indexRecords(200) + indexRecord(200, id)));
}

TEST_F(MailboxIndexTest, ACrashBeforeTheCountLeavesTheEarlierIndex)
{
    writeMailbox(2);
    {
        // The first step of an append, then the process dies before the
        // message file got its name.
        MailboxIndexFile index("email\\ann.dat");
        std::vector<IndexRecord> records;
        std::vector<IndexRecord> uncounted;
        ASSERT_TRUE(index.load(records, uncounted));
        ASSERT_EQ(records.size(), 2u);
        EXPECT_TRUE(uncounted.empty());
        ASSERT_TRUE(index.appendRecord(IndexRecord::make("email\\2@ann_e.dat", "id-2", 40)));
    }
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(2, indexRecords(3)));
    EXPECT_EQ(loadedRecords("email/ann.dat"), 2);

    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    EXPECT_EQ(listedMessages(directory, "ann", "pw").size(), 2u);
    // The next delivery cuts the unfinished record off first.
    const std::string id = deliver(directory, "ann@x.org", messageText(2));
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(3, indexRecords(2) + indexRecord(2, id)));
}

TEST_F(MailboxIndexTest, ARecordWrittenBeforeACrashIsKeptWhenItsMessageIsThere)
{
    writeMailbox(2);
    writeBytes("email/2@ann_e.dat", messageText(2));
    writeBytes("email/ann.dat", settingsFile(2, indexRecords(2) + indexRecord(2, "7:id-2")));
    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    EXPECT_EQ(listedMessages(directory, "ann", "pw").size(), 3u);
    EXPECT_TRUE(directory.holdsMessage("ann", "7:id-2"));
    EXPECT_EQ(directory.account("ann")->nextMessageNumber(), 3u);
    // Ids go on above every id in the mailboxes.
    EXPECT_EQ(directory.newMessageId().substr(0, 2), "8:");
    const std::string id = deliver(directory, "ann@x.org", messageText(3));
    EXPECT_EQ(readBytes("email/ann.dat"),
              settingsFile(4, indexRecords(2) + indexRecord(2, "7:id-2") + indexRecord(3, id)));
}

TEST_F(MailboxIndexTest, ACrashInsideARecordLeavesTheEarlierIndex)
{
    writeMailbox(2);
    const std::string unfinished = indexRecord(2, "id-2");
    for (const std::size_t cut : {std::size_t{1}, std::size_t{150}, std::size_t{303}, unfinished.size() - 1}) {
        writeBytes("email/ann.dat", settingsFile(2, indexRecords(2) + unfinished.substr(0, cut)));
        EXPECT_EQ(loadedRecords("email/ann.dat"), 2) << cut;
    }
    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    const std::string id = deliver(directory, "ann@x.org", messageText(2));
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(3, indexRecords(2) + indexRecord(2, id)));
}

TEST_F(MailboxIndexTest, PublishingCountsTheWrittenRecords)
{
    writeMailbox(1);
    MailboxIndexFile index("email\\ann.dat");
    std::vector<IndexRecord> records;
    std::vector<IndexRecord> uncounted;
    ASSERT_TRUE(index.load(records, uncounted));
    ASSERT_TRUE(index.appendRecord(IndexRecord::make("email\\1@ann_e.dat", "id-1", 40)));
    ASSERT_TRUE(index.appendRecord(IndexRecord::make("email\\2@ann_e.dat", "id-2", 40)));
    EXPECT_EQ(index.published(), 1);
    ASSERT_TRUE(index.publish(3));
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(3, indexRecords(3)));
    EXPECT_FALSE(index.publish(4)); // never more than were written
}

TEST_F(MailboxIndexTest, AnIndexChangedBehindTheAccountIsRewrittenWhole)
{
    writeMailbox(2);
    MailDirectory directory(10);
    ASSERT_TRUE(directory.load());
    // Someone else writes the file: its count is not the one the account knows.
    writeBytes("email/ann.dat", settingsFile(1, indexRecords(1)));
    const std::string id = deliver(directory, "ann@x.org", messageText(2));
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(3, indexRecords(2) + indexRecord(2, id)));
}

TEST_F(MailboxIndexTest, ADamagedIndexIsNeverAppendedTo)
{
    writeMailbox(2);
    // Ends inside the second record's name: the first record still loads.
    const std::string damaged = settingsFile(2, indexRecords(1) + indexRecord(1, "id-1").substr(0, 100));
    writeBytes("email/ann.dat", damaged);
    MailDirectory directory(10);
    EXPECT_FALSE(directory.load());
    EXPECT_EQ(directory.account("ann")->indexFileState(), FileState::Damaged);
    EXPECT_EQ(readBytes("email/ann.dat"), damaged);
    EXPECT_EQ(listedMessages(directory, "ann", "pw").size(), 1u);

    const std::string id = deliver(directory, "ann@x.org", messageText(2));
    EXPECT_EQ(directory.account("ann")->indexFileState(), FileState::Written);
    EXPECT_EQ(readBytes("email/ann.dat"), settingsFile(2, indexRecords(1) + indexRecord(2, id)));
}

} // namespace
} // namespace vantrel
