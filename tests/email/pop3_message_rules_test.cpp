// What RETR and TOP put on the wire for a stored message file: the end
// mark rule of RETR at read-unit ends, the head and body line rules of TOP,
// and the sizes of the sends, checked on real files without a network.
#include "email/pop3_message_rules.h"
#include "foundation/file_handle.h"

#include "../foundation/scratch_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::pop3 {
namespace {

using vantrel::testing::ScratchFolder;
using vantrel::testing::writeBytes;

constexpr char Stored[] = "Received: from a\r\n"
                          "Subject: hi\r\n"
                          "\r\n"
                          "one\r\n"
                          "..two\r\n"
                          "three\r\n"
                          ".\r\n";

struct Copy {
    std::string bytes;
    std::vector<std::size_t> sends;
    bool ok = false;
};

class MessageCopy : public ::testing::Test {
protected:
    std::string fileWith(const std::string& content)
    {
        const std::string path = folder_ / ("m" + std::to_string(++files_) + ".dat");
        writeBytes(path, content);
        return path;
    }

    // The reply line that goes out with the first bytes of the message.
    void setLead(std::string lead) { lead_ = std::move(lead); }

    Copy retr(const std::string& content)
    {
        FileHandle file;
        EXPECT_TRUE(file.open(fileWith(content), FileMode::Read, IfMissing::Fail));
        Copy copy;
        copy.ok = copyWholeMessage(file, lead_, sinkInto(copy));
        return copy;
    }

    Copy top(const std::string& content, int lines)
    {
        FileHandle file;
        EXPECT_TRUE(file.open(fileWith(content), FileMode::Read, IfMissing::Fail));
        Copy copy;
        copy.ok = copyMessageTop(file, lines, lead_, sinkInto(copy));
        return copy;
    }

private:
    static ByteSink sinkInto(Copy& copy)
    {
        return [&copy](std::string_view bytes) {
            copy.bytes.append(bytes);
            copy.sends.push_back(bytes.size());
            return true;
        };
    }

    ScratchFolder folder_;
    int files_ = 0;
    std::string lead_;
};

TEST_F(MessageCopy, RetrSendsAStoredMessageUnchanged)
{
    const Copy copy = retr(Stored);
    EXPECT_TRUE(copy.ok);
    EXPECT_EQ(copy.bytes, Stored);
}

TEST_F(MessageCopy, RetrAddsTheMarkWhenTheFileLacksIt)
{
    EXPECT_EQ(retr("Subject: x\r\n\r\nbody").bytes, "Subject: x\r\n\r\nbody\r\n.\r\n");
    EXPECT_EQ(retr("body\r\n.\r").bytes, "body\r\n.\r\r\n.\r\n");
    EXPECT_EQ(retr("").bytes, "\r\n.\r\n");
}

TEST_F(MessageCopy, RetrStopsAtAMarkThatEndsAReadUnit)
{
    // The mark closes the first 4096-byte unit: what follows is not sent.
    std::string head(RetrEndWatch::ReadUnit - 5, 'a');
    head += "\r\n.\r\n";
    EXPECT_EQ(retr(head + "tail\r\n.\r\n").bytes, head);
    // A mark inside a unit is passed on like any other bytes.
    std::string inside = "x\r\n.\r\ny" + std::string(RetrEndWatch::ReadUnit, 'b') + "\r\n.\r\n";
    EXPECT_EQ(retr(inside).bytes, inside);
}

TEST_F(MessageCopy, RetrSeesTheMarkAcrossUnitEnds)
{
    // The mark's first bytes end one unit, its last bytes end the file.
    std::string content(RetrEndWatch::ReadUnit - 2, 'c');
    content += "\r\n.\r\n";
    EXPECT_EQ(retr(content).bytes, content);
    content = std::string(RetrEndWatch::ReadUnit * 3, 'd') + "\r\n.\r\n";
    EXPECT_EQ(retr(content).bytes, content);
}

TEST_F(MessageCopy, ReplyLineGoesOutWithTheFirstBytes)
{
    setLead("+OK 1 octets\r\n");
    Copy copy = retr("x\r\n.\r\n");
    EXPECT_EQ(copy.bytes, "+OK 1 octets\r\nx\r\n.\r\n");
    EXPECT_EQ(copy.sends.size(), 1u);
    copy = retr("");
    EXPECT_EQ(copy.bytes, "+OK 1 octets\r\n\r\n.\r\n");
    EXPECT_EQ(copy.sends.size(), 1u);
    setLead("+OK The header and 0 lines being sent.\r\n");
    copy = top(Stored, 0);
    EXPECT_EQ(copy.bytes, "+OK The header and 0 lines being sent.\r\nReceived: from a\r\nSubject: hi\r\n\r\n.\r\n");
    EXPECT_EQ(copy.sends.size(), 1u);
}

TEST_F(MessageCopy, RetrSendsLargeMessagesInLargeBlocks)
{
    setLead("+OK 20 MiB\r\n");
    std::string content;
    for (int i = 0; content.size() < 20 * 1024 * 1024; ++i)
        content += "line " + std::to_string(i) + " of a long message, with some text to fill it up\r\n";
    content += ".\r\n";
    const Copy copy = retr(content);
    ASSERT_EQ(copy.bytes.size(), content.size() + 12);
    EXPECT_TRUE(copy.bytes == "+OK 20 MiB\r\n" + content);
    EXPECT_EQ(copy.sends.size(), (content.size() + RetrieveBlockSize - 1) / RetrieveBlockSize);
    for (std::size_t size : copy.sends)
        EXPECT_LE(size, RetrieveBlockSize + 12);
}

TEST_F(MessageCopy, RetrReportsAFailedSend)
{
    FileHandle file;
    ASSERT_TRUE(file.open(fileWith(Stored), FileMode::Read, IfMissing::Fail));
    EXPECT_FALSE(copyWholeMessage(file, "", [](std::string_view) { return false; }));
}

struct TopCase {
    const char* name;
    const char* content;
    int lines;
    const char* sent;
};

class TopLines : public MessageCopy, public ::testing::WithParamInterface<TopCase> {};

TEST_P(TopLines, SendsHeadAndBodyLines)
{
    const TopCase& c = GetParam();
    const Copy copy = top(c.content, c.lines);
    EXPECT_TRUE(copy.ok);
    EXPECT_EQ(copy.bytes, c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TopLines,
    ::testing::Values(TopCase{"HeadOnly", Stored, 0, "Received: from a\r\nSubject: hi\r\n\r\n.\r\n"},
                      TopCase{"NegativeCountsAsZero", Stored, -5, "Received: from a\r\nSubject: hi\r\n\r\n.\r\n"},
                      TopCase{"OneBodyLine", Stored, 1, "Received: from a\r\nSubject: hi\r\n\r\none\r\n.\r\n"},
                      // Dot-stuffed lines stay stuffed.
                      TopCase{"TwoBodyLines", Stored, 2,
                              "Received: from a\r\nSubject: hi\r\n\r\none\r\n..two\r\n.\r\n"},
                      TopCase{"MoreThanTheBody", Stored, 50, Stored},
                      TopCase{"NoHeadLines", "\r\nbody\r\n.\r\n", 0, "\r\n\r\n.\r\n"},
                      TopCase{"OnlyTheDotLine", ".\r\n", 3, "\r\n.\r\n"},
                      TopCase{"HeadWithoutEnd", "A: b\r\n.\r\n", 0, "A: b\r\n.\r\n"},
                      // Without its "." line the message ends when the file's bytes are used up.
                      TopCase{"NoDotLine", "A: b\r\n", 0, "A: b\r\n\r\n.\r\n"},
                      TopCase{"BodyWithoutDotLine", "A: b\r\n\r\nx\r\n", 9, "A: b\r\n\r\nx\r\n\r\n.\r\n"}),
    [](const ::testing::TestParamInfo<TopCase>& info) { return std::string(info.param.name); });

TEST_F(MessageCopy, TopCutsLinesAtTheirCapacity)
{
    // A header line of 5003 characters arrives as two lines, of 4094 and 909.
    const std::string longLine(5000, 'h');
    const Copy copy = top("X: " + longLine + "\r\n\r\nbody\r\n.\r\n", 0);
    const std::string whole = "X: " + longLine;
    EXPECT_EQ(copy.bytes, whole.substr(0, 4094) + "\r\n" + whole.substr(4094) + "\r\n\r\n.\r\n");
}

TEST_F(MessageCopy, TopGathersLinesIntoFewSends)
{
    std::string content = "Subject: many\r\n\r\n";
    for (int i = 0; i < 5000; ++i)
        content += "body line " + std::to_string(i) + "\r\n";
    content += ".\r\n";
    const Copy copy = top(content, 100000);
    EXPECT_EQ(copy.bytes, content);
    EXPECT_LT(copy.sends.size(), 10u);
}

TEST(RetrEndWatch, TakesOnlyThroughTheUnitThatEndsWithTheMark)
{
    RetrEndWatch watch;
    std::string block(RetrEndWatch::ReadUnit * 2, 'z');
    block.replace(RetrEndWatch::ReadUnit - 5, 5, "\r\n.\r\n");
    EXPECT_EQ(watch.take(block.data(), block.size()), RetrEndWatch::ReadUnit);
    EXPECT_TRUE(watch.complete());
}

TEST(RetrEndWatch, KeepsTheLastBytesAcrossShortUnits)
{
    RetrEndWatch watch;
    for (const char* piece : {"ab\r", "\n", ".", "\r\n"}) {
        EXPECT_FALSE(watch.complete());
        const std::string_view bytes(piece);
        EXPECT_EQ(watch.take(bytes.data(), bytes.size()), bytes.size());
    }
    EXPECT_TRUE(watch.complete());
}

} // namespace
} // namespace vantrel::pop3
