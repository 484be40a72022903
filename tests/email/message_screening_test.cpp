// The two screening steps on message files: the size limit at its exact
// boundary, messages with and without banned attachments, and the notice
// that takes a rejected message's place byte for byte.
#include "working_folder.h"

#include "email/mail_directory.h"
#include "email/mail_envelope.h"
#include "email/mail_notices.h"
#include "email/message_screening.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace vantrel {
namespace {

constexpr char Head[] = "Received: from client [127.0.0.1] by mail.example with x y; date\r\n"
                        "From: bob@far.example\r\nSubject: Holiday Pictures\r\n";
constexpr char End[] = "\r\n.\r\n";

class ScreeningTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        envelope.clientIp = "127.0.0.1";
        envelope.heloHost = "client";
        envelope.sender = "Bob@Far.example";
        envelope.messageFile = scratch / "message";
    }

    void write(const std::string& bytes)
    {
        std::ofstream(envelope.messageFile, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string stored() const
    {
        std::ifstream in(envelope.messageFile, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // A message of exactly `size` bytes with the head above.
    std::string messageOfSize(std::size_t size) const
    {
        std::string message = std::string(Head) + "\r\n";
        message += std::string(size - message.size() - 5, 'x') + End;
        return message;
    }
    // The date the notice in the message file carries.
    std::string noticeDate() const
    {
        const std::string text = stored();
        const auto at = text.find("\r\nDate: ");
        return at == std::string::npos ? "" : text.substr(at + 8, text.find("\r\n", at + 8) - at - 8);
    }

    testing::WorkingFolder scratch;
    MailDirectory directory{10};
    MailEnvelope envelope;
};

TEST_F(ScreeningTest, SizeLimitHoldsAtTheExactBoundary)
{
    const std::string exact = messageOfSize(1048576);
    write(exact);
    EXPECT_TRUE(screenForSize(envelope, directory));
    EXPECT_EQ(stored(), exact);

    write(messageOfSize(1048577));
    EXPECT_TRUE(screenForSize(envelope, directory));
    const std::string date = noticeDate();
    ASSERT_FALSE(date.empty());
    EXPECT_EQ(stored(), sizeNotice({"Bob@Far.example", date, "holiday pictures", "127.0.0.1"}, 1024));
    EXPECT_NE(stored().find("Currently emails are limited to 1024 KB."), std::string::npos);
}

TEST_F(ScreeningTest, SizeNoticeUsesTheLimitInKilobytesAndTheLocalDomain)
{
    directory.setMaxEmailSize(2000);
    directory.setLocalDomain("mail.example");
    write(std::string("Received: x\r\n\r\nbody\r\nre subject: found late\r\n") + std::string(2000, 'y') + End);
    EXPECT_TRUE(screenForSize(envelope, directory));
    EXPECT_EQ(stored(), sizeNotice({"Bob@Far.example", noticeDate(), "found late", "mail.example"}, 2));
}

TEST_F(ScreeningTest, NoMessageIsRefused)
{
    EXPECT_FALSE(screenForSize(envelope, directory)) << "missing file";
    EXPECT_FALSE(screenAttachments(envelope, directory)) << "missing file";
    write("abc");
    EXPECT_FALSE(screenForSize(envelope, directory));
    write("abcd");
    EXPECT_TRUE(screenForSize(envelope, directory));
}

std::string multipart(const std::string& partHeaders)
{
    return std::string(Head) +
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"==Part==\"\r\n\r\n--==Part==\r\n"
           "Content-Type: text/plain\r\n\r\nsee attached\r\n--==Part==\r\n" +
           partHeaders + "\r\nTVqQAAMAAAAEAAAA\r\n--==Part==--\r\n" + End;
}

TEST_F(ScreeningTest, BannedAttachmentIsReplacedByTheNotice)
{
    const std::string message = multipart(
        "Content-Type: application/octet-stream; name=\"setup.EXE\"\r\nContent-Transfer-Encoding: base64\r\n");
    write(message);
    EXPECT_TRUE(screenAttachments(envelope, directory));
    EXPECT_EQ(stored(), attachmentNotice({"Bob@Far.example", noticeDate(), "holiday pictures", "127.0.0.1"},
                                         static_cast<int>((message.size() + 500) >> 10), "setup.exe",
                                         MailDirectory::RecommendedBannedExtensions));
}

TEST_F(ScreeningTest, MessagesWithoutBannedTypesPassUnchanged)
{
    const std::string cases[] = {
        multipart("Content-Type: application/pdf; name=\"report.pdf\"\r\n"),
        multipart("Content-Type: application/octet-stream\r\nContent-Disposition: attachment; "
                  "filename=\"setup.exe\"\r\n"),
        multipart("Content-Type: application/octet-stream; name=\"setup\"\r\n"),
        multipart("Content-Type: application/octet-stream; name=\"setup.exe.\"\r\n"),
        std::string(Head) + "\r\nContent-Type: a/b; name=\"in the body.exe\"\r\n" + End,
    };
    for (const std::string& message : cases) {
        write(message);
        EXPECT_TRUE(screenAttachments(envelope, directory));
        EXPECT_EQ(stored(), message);
    }
    // The list is matched exactly, so only lowercase entries ever match.
    directory.setBannedExtensions(".EXE");
    const std::string upper = multipart("Content-Type: a/b; name=\"setup.exe\"\r\n");
    write(upper);
    EXPECT_TRUE(screenAttachments(envelope, directory));
    EXPECT_EQ(stored(), upper);
}

} // namespace
} // namespace vantrel
