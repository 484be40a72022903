// The screening scanner over a table of message shapes: where the subject
// comes from, which content-type headers name attachments, and how part
// boundaries and embedded messages open header blocks.
#include "email/message_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {
namespace {

// Splits a message as the file reader does: at CR LF, every CR dropped.
MessageScanner scan(std::string_view message)
{
    MessageScanner scanner;
    std::string line;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
            scanner.feed(line);
            line.clear();
            ++i;
        } else if (message[i] != '\r') {
            line.push_back(message[i]);
        }
    }
    if (!line.empty())
        scanner.feed(line);
    return scanner;
}

struct Shape {
    const char* what;
    std::string message;
    std::string subject;
    std::vector<AttachmentRecord> attachments;
};

const std::string Multipart = "Subject: Files\r\nContent-Type: multipart/mixed; boundary=\"XyZ\"\r\n\r\nbody\r\n";

const Shape Shapes[] = {
    {"plain message", "From: a@b\r\nSubject: Hello There\r\n\r\nHi\r\n.\r\n", "hello there", {}},
    {"quoted name, upper-case extension",
     Multipart + "--XyZ\r\nContent-Type: application/octet-stream; name=\"setup.EXE\"\r\n\r\nMZ\r\n--XyZ--\r\n",
     "files",
     {{".exe", "setup.exe"}}},
    {"unquoted name",
     Multipart + "--xyz\r\nContent-Type: application/pdf; name=Report.Final.PDF\r\n\r\n%\r\n",
     "files",
     {{".pdf", "report.final.pdf"}}},
    {"name without a dot", Multipart + "--XyZ\r\nContent-Type: text/plain; name=\"README\"\r\n\r\nx\r\n", "files", {}},
    {"name ending in a dot",
     Multipart + "--XyZ\r\nContent-Type: text/plain; name=\"setup.\"\r\n\r\nx\r\n",
     "files",
     {}},
    {"extension of 28 and of 29 characters",
     Multipart + "--XyZ\r\nContent-Type: a/b; name=x." + std::string(28, 'e') + "; name=y." + std::string(29, 'e') +
         "\r\n",
     "files",
     {{"." + std::string(28, 'e'), "x." + std::string(28, 'e')}}},
    {"content disposition only",
     Multipart + "--XyZ\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; "
                 "filename=\"setup.exe\"\r\n\r\nMZ\r\n",
     "files",
     {}},
    {"boundary on the continuation line",
     "Content-Type: multipart/mixed;\r\n\tboundary=\"cont\"\r\n\r\n--cont\r\nContent-Type: application/x;\r\n"
     " name=\"run.bat\"\r\n\r\nx\r\n",
     "No Subject",
     {{".bat", "run.bat"}}},
    {"no continuation without a trailing semicolon",
     "Content-Type: multipart/mixed\r\n\tboundary=\"cont\"\r\n\r\n--cont\r\nContent-Type: a/b; name=\"run.bat\"\r\n",
     "No Subject",
     {}},
    {"unquoted boundary, matched without regard to case",
     "Content-Type: multipart/mixed; BOUNDARY=Plain.Bound\r\n\r\n--PLAIN.BOUND\r\nContent-Type: a/b; name=x.js\r\n",
     "No Subject",
     {{".js", "x.js"}}},
    {"a boundary line must match exactly", Multipart + "--XyZ \r\nContent-Type: a/b; name=\"x.exe\"\r\n", "files", {}},
    {"body lines are not headers", "Subject: s\r\n\r\nContent-Type: a/b; name=\"x.exe\"\r\n", "s", {}},
    {"only content-type headers count",
     "X-Note: a; name=\"x.exe\"\r\nContent-Type:a/b; name=\"y.exe\"\r\nContent-Type: a/b; name=\"z.exe\"\r\n",
     "No Subject",
     {{".exe", "z.exe"}}},
    {"several attachments in order, lead bytes skipped",
     Multipart + "--XyZ\r\nContent-Type: a/b; name=\"one.txt\";\xF2\xF4\xFF name=two.exe\r\n\r\nx\r\n--XyZ\r\n"
                 "Content-Type: a/b; name=\"three.vbs\"\r\n",
     "files",
     {{".txt", "one.txt"}, {".exe", "two.exe"}, {".vbs", "three.vbs"}}},
    {"nested message/rfc822 part",
     "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n--outer\r\nContent-Type: message/rfc822\r\n\r\n"
     "Subject: Inner\r\nContent-Type: multipart/mixed; boundary=\"inner\"\r\n\r\n--inner\r\n"
     "Content-Type: application/octet-stream; name=\"run.bat\"\r\n\r\nx\r\n--inner--\r\n--outer--\r\n",
     "inner",
     {{".bat", "run.bat"}}},
    {"subject found in the body", "From: a\r\n\r\nplease read\r\nRe Subject: Lunch?\r\n", "lunch?", {}},
    {"a subject tag at the line end does not count", "Subject: \r\nx subject: \r\n\r\nsubject: late\r\n", "late", {}},
    {"a zero byte ends a line", std::string("Subject: a\0b\r\n", 14), "a", {}},
    {"quoted name keeps what lies between the quotes",
     "Content-Type: a/b; name=\"my file.tar.gz\" junk\r\n",
     "No Subject",
     {{".gz", "my file.tar.gz"}}},
};

TEST(MessageScanner, FindsSubjectAndAttachmentsOfEachShape)
{
    for (const Shape& shape : Shapes) {
        const MessageScanner scanner = scan(shape.message);
        EXPECT_EQ(scanner.subject(), shape.subject) << shape.what;
        EXPECT_EQ(scanner.attachments(), shape.attachments) << shape.what;
    }
}

TEST(MessageScanner, SubjectIsCutAndTheFirstOneWins)
{
    const std::string longSubject(600, 'S');
    const MessageScanner scanner = scan("Subject: " + longSubject + "\r\nSubject: second\r\n");
    EXPECT_EQ(scanner.subject(), std::string(MessageScanner::MaxSubject, 's'));
}

TEST(MessageScanner, LongValuesAreCut)
{
    // A boundary is kept as "--" and its first 97 characters.
    const std::string boundary(120, 'b');
    const MessageScanner cutBoundary = scan("Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" +
                                            boundary.substr(0, 97) + "\r\nContent-Type: a/b; name=\"x.exe\"\r\n");
    EXPECT_EQ(cutBoundary.attachments(), (std::vector<AttachmentRecord>{{".exe", "x.exe"}}));

    // A name is cut to 260 characters before its extension is taken.
    const MessageScanner cutName =
        scan("Content-Type: a/b; name=\"" + std::string(250, 'n') + ".exe.abcdefghijk\"\r\n");
    ASSERT_EQ(cutName.attachments().size(), 1u);
    EXPECT_EQ(cutName.attachments()[0].extension, ".abcde");
    EXPECT_EQ(cutName.attachments()[0].fileName.size(), MessageScanner::MaxFileName);
}

TEST(MessageScanner, EmbeddedMessageKeepsOnlyItsNextBlankLine)
{
    // After the embedded header block, the next blank line ends the headers
    // again, so a name in the body is not taken.
    const MessageScanner scanner =
        scan("Content-Type: message/rfc822\r\n\r\nFrom: x\r\n\r\nContent-Type: a/b; name=\"x.exe\"\r\n");
    EXPECT_TRUE(scanner.attachments().empty());
}

} // namespace
} // namespace vantrel
