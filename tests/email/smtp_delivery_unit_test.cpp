// Local delivery of a queued message: each recipient with room gets a copy
// and is named in the "Mail Received" line, a full mailbox is skipped
// silently, a copy that cannot be made is reported in the SMTP log, leaves
// its user out of the line and is given back for a later try, and a later
// try never stores a copy twice.
#include "mail_test_support.h"

#include "email/mail_account.h"
#include "email/mail_envelope.h"
#include "email/smtp_delivery.h"
#include "foundation/file_system.h"
#include "foundation/service_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace vantrel {
namespace {

using testing::readBytes;
using testing::writeBytes;

class LocalDelivery : public testing::MailFolderTest {
protected:
    void SetUp() override
    {
        MailFolderTest::SetUp();
        ASSERT_TRUE(directory.addOrUpdateAccount("ann", "ann@x.org", "pw"));
        ASSERT_TRUE(directory.addOrUpdateAccount("bob", "bob@x.org", "pw"));
        log.setPath("logs\\smtplog_0.txt");
        envelope.clientIp = "10.0.0.7";
        envelope.heloHost = "client.example";
        envelope.sender = "eve@client.example";
        envelope.refusedRecipients = {"nobody@x.org", "ghost@x.org"};
    }
    void TearDown() override
    {
        owned_.reset();
        MailFolderTest::TearDown();
    }

    void addRecipient(const std::string& address)
    {
        const std::string user = directory.localRecipient(address);
        ASSERT_FALSE(user.empty());
        envelope.localRecipients.push_back(LocalRecipient{user, directory.newMessageId()});
    }

    // The log's lines without their dates.
    std::vector<std::string> logLines()
    {
        const std::string text = readBytes("logs/smtplog_0.txt");
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            const std::string line = text.substr(at, end - at);
            lines.push_back(line.substr(line.find(" -> ") + 4));
            at = end + 2;
        }
        return lines;
    }

    std::unique_ptr<MailDirectory> owned_ = std::make_unique<MailDirectory>(10);
    MailDirectory& directory = *owned_;
    ServiceLog log;
    MailEnvelope envelope;
};

TEST_F(LocalDelivery, EveryRecipientWithRoomGetsTheMessage)
{
    writeBytes("message.txt", "Received: x\r\nhello\r\n.\r\n");
    envelope.messageFile = folder() + "/message.txt";
    addRecipient("ann@x.org");
    addRecipient("bob@x.org");
    EXPECT_TRUE(deliverLocally(directory, log, envelope, DeliveryTry::First).empty());
    EXPECT_EQ(readBytes("email/0@ann_e.dat"), "Received: x\r\nhello\r\n.\r\n");
    EXPECT_EQ(readBytes("email/0@bob_e.dat"), "Received: x\r\nhello\r\n.\r\n");
    // A try after a crash finds both copies by their ids and stores none again.
    EXPECT_TRUE(deliverLocally(directory, log, envelope, DeliveryTry::Again).empty());
    EXPECT_FALSE(pathExists("email/1@ann_e.dat"));
    EXPECT_FALSE(pathExists("email/1@bob_e.dat"));
    const std::string line = "Mail Received: IP:[10.0.0.7], Host:[client.example], Mail From:[eve@client.example], "
                             "For:[ann, bob], 'Bad' For:[nobody@x.org, ghost@x.org]";
    EXPECT_EQ(logLines(), (std::vector<std::string>{line, line}));
}

TEST_F(LocalDelivery, AFullMailboxIsSkippedWithoutAWord)
{
    writeBytes("message.txt", std::string(600, 'm'));
    envelope.messageFile = folder() + "/message.txt";
    directory.setMaxAccountSize(1000);
    addRecipient("ann@x.org");
    EXPECT_TRUE(deliverLocally(directory, log, envelope, DeliveryTry::First).empty());
    envelope.localRecipients.clear();
    addRecipient("ann@x.org");
    addRecipient("bob@x.org");
    EXPECT_TRUE(deliverLocally(directory, log, envelope, DeliveryTry::First).empty());
    EXPECT_FALSE(pathExists("email/1@ann_e.dat"));
    EXPECT_TRUE(pathExists("email/0@bob_e.dat"));
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("For:[ann], "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("For:[bob], "), std::string::npos) << lines[1];
}

TEST_F(LocalDelivery, AFailedCopyIsLoggedLeftOutAndGivenBack)
{
    envelope.messageFile = folder() + "/gone.txt";
    addRecipient("ann@x.org");
    const std::vector<LocalRecipient> failed = deliverLocally(directory, log, envelope, DeliveryTry::First);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].user, "ann");
    // No record names a file that is not there, and no number was used.
    EXPECT_EQ(directory.account("ann")->nextMessageNumber(), 0u);
    EXPECT_EQ(directory.account("ann")->messageIds().size(), 0u);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "***COPY FAILED*** IP:[10.0.0.7], Host:[client.example], Mail From:[eve@client.example], "
                              "For:[ann]",
                              "Mail Received: IP:[10.0.0.7], Host:[client.example], Mail From:[eve@client.example], "
                              "For:[], 'Bad' For:[nobody@x.org, ghost@x.org]"}));
}

} // namespace
} // namespace vantrel
