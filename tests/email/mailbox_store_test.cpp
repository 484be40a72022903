// The mailbox store's transactions: delivery while a login holds the lock,
// deletions by id, numbers never reused, stored sizes, small files left
// out but kept in the index, failed copies and saves, and many deliveries
// at once.
#include "mail_test_support.h"

#include "email/mail_account.h"
#include "foundation/settings_store.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

using testing::deliver;
using testing::diskPath;
using testing::listedMessages;
using testing::messageText;
using testing::readBytes;
using testing::writeBytes;

class MailboxStoreTest : public testing::MailFolderTest {
protected:
    void SetUp() override
    {
        MailFolderTest::SetUp();
        ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "pw"));
        ASSERT_TRUE(directory.addOrUpdateAccount("bob", "bob@x.org", "pw-bob"));
    }
    // The directory saves when it goes: still inside the scratch folder.
    void TearDown() override
    {
        owned_.reset();
        MailFolderTest::TearDown();
    }

    // The index as the loader reads it: (path, id) per record.
    static std::vector<std::pair<std::string, std::string>> indexOf(const std::string& file)
    {
        SettingsStore store;
        EXPECT_TRUE(store.load(file)) << file;
        std::vector<std::pair<std::string, std::string>> records;
        for (int i = 0; i < store.count(); ++i)
            records.emplace_back(store.nameAt(i), store.textAt(i, 99));
        return records;
    }

    // Commits while files may not grow beyond a few bytes, as on a full
    // disk: no account file can be written.
    CommitOutcome commitOnAFullDisk(std::unique_ptr<MailboxTransaction> transaction, bool unlock)
    {
        rlimit saved{};
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = saved;
        tiny.rlim_cur = 64;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const CommitOutcome outcome = unlock ? directory.commitAndUnlock(std::move(transaction))
                                             : directory.commitDelivery(std::move(transaction));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
        return outcome;
    }

    std::unique_ptr<MailDirectory> owned_ = std::make_unique<MailDirectory>(10);
    MailDirectory& directory = *owned_;
};

TEST_F(MailboxStoreTest, DeliveryStoresACopyUnderTheNextNumber)
{
    writeBytes("source.eml", messageText(1));
    auto transaction = directory.openMailboxForAddress("ann@x.org");
    ASSERT_NE(transaction, nullptr);
    EXPECT_EQ(transaction->storedSize(), 0u);
    const std::string id = directory.newMessageId();
    transaction->addMessage("source.eml", id, messageText(1).size());
    EXPECT_EQ(transaction->storedSize(), messageText(1).size());
    EXPECT_EQ(directory.commitDelivery(std::move(transaction)), CommitOutcome::Applied);

    EXPECT_EQ(readBytes("email/0@ann_e.dat"), messageText(1));
    EXPECT_EQ(readBytes("source.eml"), messageText(1)); // its owner removes it
    EXPECT_EQ(indexOf("email/ann.dat"), (std::vector<std::pair<std::string, std::string>>{{"email\\0@ann_e.dat", id}}));
    const auto account = directory.account("ann");
    EXPECT_EQ(account->nextMessageNumber(), 1u);
    EXPECT_EQ(account->storedSize(), messageText(1).size());
    // No temporary copy is left beside the mailbox.
    EXPECT_EQ(testing::folderNames("email"), (std::vector<std::string>{"0@ann_e.dat", "ann.dat", "ann_s.dat"}));
}

TEST_F(MailboxStoreTest, DeliveryWhileALoginHoldsTheLock)
{
    deliver(directory, "ann@x.org", messageText(1));
    auto pop = directory.openMailboxForLogin("ann", "pw");
    ASSERT_NE(pop, nullptr);
    EXPECT_TRUE(directory.account("ann")->isLoginLocked());
    // A second login fails; the caller tells busy from wrong by checkLogin.
    EXPECT_EQ(directory.openMailboxForLogin("ann", "pw"), nullptr);
    EXPECT_TRUE(directory.checkLogin("ann", "pw"));

    deliver(directory, "ann@x.org", messageText(2));
    EXPECT_TRUE(directory.account("ann")->isLoginLocked());
    EXPECT_EQ(pop->messageSlotCount(), 1); // a snapshot: the new mail is not in it

    // Browsing does not take the lock and sees the new mail.
    auto browse = directory.openMailboxAt(0);
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->messageSlotCount(), 2);
    directory.commitDelivery(std::move(browse));
    EXPECT_TRUE(directory.account("ann")->isLoginLocked());

    directory.commitAndUnlock(std::move(pop));
    EXPECT_FALSE(directory.account("ann")->isLoginLocked());
    EXPECT_EQ(listedMessages(directory, "ann", "pw"), (std::vector<std::string>{messageText(1), messageText(2)}));
}

TEST_F(MailboxStoreTest, DeletionsFindTheirRecordsById)
{
    const std::string id0 = deliver(directory, "ann@x.org", messageText(0));
    const std::string id1 = deliver(directory, "ann@x.org", messageText(1));
    const std::string id2 = deliver(directory, "ann@x.org", messageText(2));

    auto pop = directory.openMailboxForLogin("ann", "pw");
    ASSERT_EQ(pop->messageSlotCount(), 3);
    EXPECT_TRUE(pop->markDeleted(1));
    EXPECT_FALSE(pop->markDeleted(1));
    EXPECT_EQ(pop->messageIdAt(1), std::nullopt);
    EXPECT_EQ(pop->messageSizeAt(1), 0u);
    EXPECT_EQ(pop->messageIdAt(2), id2); // the others keep their numbers
    EXPECT_EQ(pop->liveCount(), 2);
    EXPECT_EQ(pop->liveSize(), messageText(0).size() + messageText(2).size());

    // Mail arrives meanwhile, and another transaction deletes message 0 first.
    const std::string id3 = deliver(directory, "ann@x.org", messageText(3));
    auto other = directory.openMailboxAt(0);
    ASSERT_EQ(other->messageSlotCount(), 4);
    other->markDeleted(0);
    directory.commitDelivery(std::move(other));
    pop->markDeleted(0); // no longer indexed: skipped
    directory.commitAndUnlock(std::move(pop));

    EXPECT_EQ(indexOf("email/ann.dat"), (std::vector<std::pair<std::string, std::string>>{
                                            {"email\\2@ann_e.dat", id2}, {"email\\3@ann_e.dat", id3}}));
    EXPECT_FALSE(std::filesystem::exists("email/0@ann_e.dat"));
    EXPECT_FALSE(std::filesystem::exists("email/1@ann_e.dat"));
    EXPECT_EQ(directory.account("ann")->storedSize(), messageText(2).size() + messageText(3).size());
    (void)id0;
    (void)id1;
}

TEST_F(MailboxStoreTest, DeletionsThatCannotBeWrittenKeepEveryMessage)
{
    deliver(directory, "ann@x.org", messageText(0));
    deliver(directory, "ann@x.org", messageText(1));
    deliver(directory, "ann@x.org", messageText(2));
    auto pop = directory.openMailboxForLogin("ann", "pw");
    pop->markDeleted(0);
    pop->markDeleted(2);
    EXPECT_EQ(commitOnAFullDisk(std::move(pop), true), CommitOutcome::DeletionFailed);
    EXPECT_EQ(listedMessages(directory, "ann", "pw"),
              (std::vector<std::string>{messageText(0), messageText(1), messageText(2)}));
    EXPECT_FALSE(directory.account("ann")->isLoginLocked());
    // Once the index can be written again, the same deletions go through.
    pop = directory.openMailboxForLogin("ann", "pw");
    pop->markDeleted(0);
    pop->markDeleted(2);
    EXPECT_EQ(directory.commitAndUnlock(std::move(pop)), CommitOutcome::Applied);
    EXPECT_EQ(listedMessages(directory, "ann", "pw"), std::vector<std::string>{messageText(1)});
    EXPECT_FALSE(std::filesystem::exists("email/0@ann_e.dat"));
    EXPECT_FALSE(std::filesystem::exists("email/2@ann_e.dat"));
}

TEST_F(MailboxStoreTest, ADeliveryTheFilesCannotTakeIsReportedAndWrittenByTheNextCommit)
{
    ASSERT_TRUE(directory.save());
    writeBytes("limited.eml", messageText(1));
    auto transaction = directory.openMailboxForAddress("ann@x.org");
    transaction->addMessage("limited.eml", "id-limited", messageText(1).size());
    EXPECT_EQ(commitOnAFullDisk(std::move(transaction), false), CommitOutcome::SaveFailed);
    // The message is in the mailbox, its index owed to the disk: a commit
    // that changes nothing writes it.
    EXPECT_TRUE(directory.holdsMessage("ann", "id-limited"));
    EXPECT_EQ(directory.commitDelivery(directory.openMailboxForUser("ann")), CommitOutcome::Applied);
    MailDirectory reloaded(10);
    EXPECT_TRUE(reloaded.load());
    EXPECT_EQ(listedMessages(reloaded, "ann", "pw"), std::vector<std::string>{messageText(1)});
}

TEST_F(MailboxStoreTest, ASaveWritesAccountFilesRemovedWhileRunning)
{
    deliver(directory, "ann@x.org", messageText(0));
    ASSERT_TRUE(directory.save());
    std::filesystem::remove("email/ann.dat");
    std::filesystem::remove("email/ann_s.dat");
    ASSERT_TRUE(directory.save());
    MailDirectory reloaded(10);
    EXPECT_TRUE(reloaded.load());
    EXPECT_TRUE(reloaded.checkLogin("ann", "pw"));
    EXPECT_EQ(listedMessages(reloaded, "ann", "pw"), std::vector<std::string>{messageText(0)});
}

TEST_F(MailboxStoreTest, UndoPutsEveryMessageBackInItsSlot)
{
    for (int n = 0; n < 3; ++n)
        deliver(directory, "ann@x.org", messageText(n));
    auto pop = directory.openMailboxForLogin("ann", "pw");
    pop->markDeleted(2);
    pop->markDeleted(0);
    ASSERT_EQ(pop->pendingDeletions().size(), 2u);
    EXPECT_EQ(pop->pendingDeletions()[0].slot, 2);
    pop->undoDeletions();
    EXPECT_TRUE(pop->pendingDeletions().empty());
    EXPECT_EQ(pop->liveCount(), 3);
    EXPECT_EQ(readBytes(diskPath(pop->messagePath(2))), messageText(2));
    // A session that ends without QUIT hands back its transaction undone.
    directory.commitAndUnlock(std::move(pop));
    EXPECT_EQ(listedMessages(directory, "ann", "pw").size(), 3u);
}

TEST_F(MailboxStoreTest, NumbersAreNeverReused)
{
    for (int n = 0; n < 3; ++n)
        deliver(directory, "ann@x.org", messageText(n));
    auto pop = directory.openMailboxForLogin("ann", "pw");
    for (int i = 0; i < 3; ++i)
        pop->markDeleted(i);
    directory.commitAndUnlock(std::move(pop));
    EXPECT_EQ(directory.account("ann")->storedSize(), 0u);
    deliver(directory, "ann@x.org", messageText(9));
    EXPECT_TRUE(std::filesystem::exists("email/3@ann_e.dat"));
    EXPECT_FALSE(std::filesystem::exists("email/0@ann_e.dat"));

    // Also when the count is lost: an indexed number is not handed out again.
    ASSERT_TRUE(directory.save());
    std::filesystem::remove("email/ann_s.dat");
    MailDirectory reloaded(10);
    EXPECT_FALSE(reloaded.load());
    EXPECT_EQ(reloaded.account("ann")->nextMessageNumber(), 4u);
}

TEST_F(MailboxStoreTest, SmallFilesAreLeftOutButStayIndexed)
{
    for (int n = 0; n < 3; ++n)
        deliver(directory, "ann@x.org", messageText(n));
    writeBytes("email/1@ann_e.dat", ".\r\n"); // 3 bytes
    std::filesystem::remove("email/2@ann_e.dat");
    auto pop = directory.openMailboxForLogin("ann", "pw");
    ASSERT_EQ(pop->messageSlotCount(), 1);
    EXPECT_EQ(readBytes(diskPath(pop->messagePath(0))), messageText(0));
    // The stored size counts the small file; the missing one counts nothing.
    EXPECT_EQ(pop->storedSize(), messageText(0).size() + 3);
    directory.commitAndUnlock(std::move(pop));
    EXPECT_EQ(indexOf("email/ann.dat").size(), 3u);
}

TEST_F(MailboxStoreTest, StoredSizeGrowsWithEveryDeliveryAndAddition)
{
    deliver(directory, "ann@x.org", messageText(1));
    auto transaction = directory.openMailboxForAddress("ann@x.org");
    const std::uint64_t before = transaction->storedSize();
    EXPECT_EQ(before, messageText(1).size());
    writeBytes("queued.eml", "0123456789");
    transaction->addMessage("queued.eml", "id-a", 10);
    transaction->dropAdditions(); // the size keeps what was added
    EXPECT_EQ(transaction->storedSize(), before + 10);
    EXPECT_TRUE(transaction->pendingAdditions().empty());
    EXPECT_EQ(directory.commitDelivery(std::move(transaction)), CommitOutcome::Applied);
    EXPECT_EQ(directory.account("ann")->nextMessageNumber(), 1u);
}

TEST_F(MailboxStoreTest, AFailedCopyIsReportedAndLeavesNoTrace)
{
    auto transaction = directory.openMailboxForAddress("ann@x.org");
    transaction->addMessage("no-such-file.eml", "id-lost", 500);
    EXPECT_EQ(directory.commitDelivery(std::move(transaction)), CommitOutcome::CopyFailed);
    EXPECT_FALSE(std::filesystem::exists("email/0@ann_e.dat"));
    // No record names a message that is not there; the number is not used up.
    EXPECT_FALSE(directory.holdsMessage("ann", "id-lost"));
    deliver(directory, "ann@x.org", messageText(1));
    EXPECT_EQ(listedMessages(directory, "ann", "pw"), std::vector<std::string>{messageText(1)});
    EXPECT_EQ(readBytes("email/0@ann_e.dat"), messageText(1));
    // The failed copy left no temporary file behind.
    for (const std::string& name : testing::folderNames("email"))
        EXPECT_TRUE(name.ends_with(".dat")) << name;
}

TEST_F(MailboxStoreTest, CopiesLeftByACrashAreRemovedAtTheFirstLoad)
{
    ASSERT_TRUE(directory.save());
    writeBytes("email/~Ab3dEf.stage", "half a message");
    // Names a staged copy never has, among them account files of users "~ab" and "~".
    for (const char* kept :
         {"email/~notes.txt", "email/~Ab3dEf", "email/~ab.dat", "email/~_s.dat", "email/~ab3de.stage"})
        writeBytes(kept, "kept");
    MailDirectory reloaded(10);
    EXPECT_TRUE(reloaded.load());
    EXPECT_FALSE(std::filesystem::exists("email/~Ab3dEf.stage"));
    for (const char* kept :
         {"email/~notes.txt", "email/~Ab3dEf", "email/~ab.dat", "email/~_s.dat", "email/~ab3de.stage"})
        EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
}

TEST_F(MailboxStoreTest, ATransactionOfARemovedAccountIsOnlyDestroyed)
{
    auto transaction = directory.openMailboxForAddress("bob@x.org");
    writeBytes("late.eml", messageText(1));
    transaction->addMessage("late.eml", "id-late", messageText(1).size());
    ASSERT_TRUE(directory.removeAccount("bob"));
    EXPECT_EQ(directory.commitDelivery(std::move(transaction)), CommitOutcome::NoAccount);
    EXPECT_FALSE(std::filesystem::exists("email/0@bob_e.dat"));
    EXPECT_EQ(directory.commitDelivery(nullptr), CommitOutcome::NoAccount);
}

TEST_F(MailboxStoreTest, ManyDeliveriesAtOnceWhileLoginsComeAndGo)
{
    constexpr int Threads = 8;
    constexpr int PerThread = 25;
    std::atomic<bool> done{false};
    std::atomic<int> logins{0};
    std::thread pop([&] {
        while (!done) {
            if (auto transaction = directory.openMailboxForLogin("ann", "pw")) {
                ++logins;
                directory.commitAndUnlock(std::move(transaction));
            }
        }
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < Threads; ++t) {
        senders.emplace_back([&, t] {
            for (int n = 0; n < PerThread; ++n) {
                const std::string source = "t" + std::to_string(t) + "-" + std::to_string(n) + ".eml";
                writeBytes(source, messageText(t * 1000 + n));
                auto transaction = directory.openMailboxForAddress("ann@x.org");
                transaction->addMessage(source, directory.newMessageId(), messageText(t * 1000 + n).size());
                EXPECT_EQ(directory.commitDelivery(std::move(transaction)), CommitOutcome::Applied);
            }
        });
    }
    for (auto& sender : senders)
        sender.join();
    done = true;
    pop.join();
    EXPECT_GT(logins.load(), 0);

    const auto index = indexOf("email/ann.dat");
    ASSERT_EQ(index.size(), static_cast<std::size_t>(Threads * PerThread));
    std::set<std::string> paths;
    std::set<std::string> bodies;
    for (const auto& [path, id] : index) {
        paths.insert(path);
        bodies.insert(readBytes(diskPath(path)));
    }
    EXPECT_EQ(paths.size(), index.size());
    EXPECT_EQ(bodies.size(), index.size());
    for (int n = 0; n < Threads * PerThread; ++n)
        EXPECT_EQ(paths.count("email\\" + std::to_string(n) + "@ann_e.dat"), 1u) << n;
    EXPECT_EQ(directory.account("ann")->nextMessageNumber(), static_cast<std::uint32_t>(Threads * PerThread));
    EXPECT_FALSE(directory.account("ann")->isLoginLocked());
}

} // namespace
} // namespace vantrel
