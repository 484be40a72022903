// Local delivery after a received message: each recipient with room gets a
// copy and is named in the "Mail Received" line, a full mailbox is skipped
// silently, and a copy that cannot be made is reported in the SMTP log and
// leaves its user out of the line.
#include "mail_test_support.h"

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
        auto mailbox = directory.openMailboxForAddress(address);
        ASSERT_TRUE(mailbox);
        envelope.localRecipients.push_back(std::move(mailbox));
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
    deliverLocally(directory, log, envelope);
    EXPECT_TRUE(envelope.localRecipients.empty());
    EXPECT_EQ(readBytes("email/0@ann_e.dat"), "Received: x\r\nhello\r\n.\r\n");
    EXPECT_EQ(readBytes("email/0@bob_e.dat"), "Received: x\r\nhello\r\n.\r\n");
    EXPECT_EQ(logLines(), std::vector<std::string>{
                              "Mail Received: IP:[10.0.0.7], Host:[client.example], Mail From:[eve@client.example], "
                              "For:[ann, bob], 'Bad' For:[nobody@x.org, ghost@x.org]"});
}

TEST_F(LocalDelivery, AFullMailboxIsSkippedWithoutAWord)
{
    writeBytes("message.txt", std::string(600, 'm'));
    envelope.messageFile = folder() + "/message.txt";
    directory.setMaxAccountSize(1000);
    addRecipient("ann@x.org");
    deliverLocally(directory, log, envelope);
    addRecipient("ann@x.org");
    addRecipient("bob@x.org");
    deliverLocally(directory, log, envelope);
    EXPECT_FALSE(pathExists("email/1@ann_e.dat"));
    EXPECT_TRUE(pathExists("email/0@bob_e.dat"));
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("For:[ann], "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("For:[bob], "), std::string::npos) << lines[1];
}

TEST_F(LocalDelivery, AFailedCopyIsLoggedAndItsUserLeftOut)
{
    envelope.messageFile = folder() + "/gone.txt";
    addRecipient("ann@x.org");
    deliverLocally(directory, log, envelope);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "***COPY FAILED*** IP:[10.0.0.7], Host:[client.example], Mail From:[eve@client.example], "
                              "For:[ann]",
                              "Mail Received: IP:[10.0.0.7], Host:[client.example], Mail From:[eve@client.example], "
                              "For:[], 'Bad' For:[nobody@x.org, ghost@x.org]"}));
}

} // namespace
} // namespace vantrel
