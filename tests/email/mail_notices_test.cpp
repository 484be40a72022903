// The notices' exact bytes, written out in full here, and the rule that a
// value from a client never brings a line break into a notice.
#include "email/mail_notices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

constexpr char Date[] = "Tue, 07 Dec 2049 09:23:34";

TEST(MailNotices, SizeNoticeBytes)
{
    const NoticeParts parts{"bob@far.example", Date, "big pictures", "mail.example"};
    EXPECT_EQ(sizeNotice(parts, 1024),
              "From: bob@far.example\r\n"
              "Date: Tue, 07 Dec 2049 09:23:34\r\n"
              "Subject: Incoming Mail Rejected - big pictures\r\n"
              "\r\n"
              "An email from...\r\n"
              "\r\n"
              "<bob@far.example>\r\n"
              "\r\n"
              "was rejected due to its size. Currently emails are limited to 1024 KB. Please note, the sender "
              "was not informed of this rejection.\r\n"
              "\r\n"
              "From Vantrel Server 2.33 (mail.example)\r\n"
              ".\r\n");
}

TEST(MailNotices, AttachmentNoticeBytes)
{
    const NoticeParts parts{"", Date, "No Subject", "127.0.0.1"};
    EXPECT_EQ(attachmentNotice(parts, 3, "setup.exe", ".exe .bat"),
              "From: \r\n"
              "Date: Tue, 07 Dec 2049 09:23:34\r\n"
              "Subject: Incoming Mail Rejected - No Subject\r\n"
              "\r\n"
              "An email from...\r\n"
              "\r\n"
              "<>\r\n"
              "\r\n"
              "was rejected due to an attachment contained within the email. The email was 3 Kb in size and "
              "contained a file called 'setup.exe'. Please note, the sender was not informed of this "
              "rejection.\r\n"
              "\r\n"
              "Banned Extensions: \".exe .bat\"\r\n"
              "\r\n"
              "From Vantrel Server 2.33 (127.0.0.1)\r\n"
              ".\r\n");
}

TEST(MailNotices, UndeliveredNoticeBytes)
{
    EXPECT_EQ(undeliveredNotice(Date, {"c@far.example", "d@far.example"}),
              "From: Vantrel Server 2.33\r\n"
              "Date: Tue, 07 Dec 2049 09:23:34\r\n"
              "Subject: Mail Undelivered\r\n"
              "\r\n"
              "An email from you failed to be sent through the SMTP relay server.\r\n"
              "Sent on Tue, 07 Dec 2049 09:23:34, for...\r\n"
              "\r\n"
              "c@far.example\r\n"
              "d@far.example\r\n"
              "\r\n"
              "Please contact your administrator.\r\n"
              "\r\n"
              "From Vantrel Server 2.33\r\n"
              ".\r\n");
}

// Only the notice's own last line may be a lone dot.
void expectOneEndMark(const std::string& notice)
{
    EXPECT_EQ(notice.find("\r\n.\r\n"), notice.size() - 5) << notice;
    EXPECT_EQ(notice.find('\n'), notice.find("\r\n") + 1);
    for (std::size_t at = 0; (at = notice.find_first_of("\r\n", at)) != std::string::npos; at += 2)
        ASSERT_EQ(notice.compare(at, 2, "\r\n"), 0) << "bare line break at " << at << " in " << notice;
}

TEST(MailNotices, ClientValuesNeverBreakALine)
{
    const NoticeParts parts{"x\r\n.\r\nBcc: y", Date, "a\rb\nc", "h\n"};
    const std::string size = sizeNotice(parts, 1);
    expectOneEndMark(size);
    EXPECT_NE(size.find("From: x  .  Bcc: y\r\n"), std::string::npos);
    EXPECT_NE(size.find("Rejected - a b c\r\n"), std::string::npos);

    const std::string attachment = attachmentNotice(parts, 1, "evil\r\n.\r\n.exe", ".exe\n.bat");
    expectOneEndMark(attachment);
    EXPECT_NE(attachment.find("called 'evil  .  .exe'"), std::string::npos);
    EXPECT_NE(attachment.find("\".exe .bat\""), std::string::npos);

    const std::string undelivered = undeliveredNotice(Date, {".", ".hidden@x", "a\r\n.\r\nb"});
    expectOneEndMark(undelivered);
    EXPECT_NE(undelivered.find("\r\n..\r\n..hidden@x\r\na  .  b\r\n"), std::string::npos) << undelivered;
}

TEST(MailNotices, KilobyteRounding)
{
    EXPECT_EQ(sizeLimitKb(1048576), 1024);
    EXPECT_EQ(sizeLimitKb(1024 * 1024 - 501), 1023);
    EXPECT_EQ(sizeLimitKb(1024 * 1024 - 500), 1024);
    EXPECT_EQ(messageSizeKb(523), 0);
    EXPECT_EQ(messageSizeKb(524), 1);
    EXPECT_EQ(messageSizeKb(1048576 + 1), 1024);
}

} // namespace
} // namespace vantrel
