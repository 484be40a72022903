// The SMTP command line parsers: greeting hosts, MAIL and RCPT addresses,
// command words, and that no CR or LF of a line survives into a text taken
// from it.
#include "email/smtp_parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vantrel {
namespace {

struct GreetingCase {
    std::string line;
    std::optional<std::string> host;
};

TEST(SmtpParse, GreetingHost)
{
    const std::string longHost(150, 'h');
    const GreetingCase cases[] = {
        {"HELO client.example", "client.example"},
        {"helo x", "x"},
        {"HELO  two blanks", " two blanks"},
        {"Hxxxxyz", "yz"},
        {"hello there", " there"},
        {"HELO ", std::nullopt},
        {"HELO", std::nullopt},
        {"EHLO client.example", std::nullopt},
        {"QUIT now", std::nullopt},
        {"MAIL FROM:<a@b>", std::nullopt},
        {"HELO " + longHost, longHost.substr(0, 99)},
        {"HELO evil\r\nX-Injected: 1", "evil  X-Injected: 1"},
        {"HELO a\nb\rc", "a b c"},
    };
    for (const GreetingCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(greetingHost(c.line), c.host);
    }
}

struct AddressCase {
    std::string line;
    std::string_view prefix;
    std::optional<std::string> address;
};

TEST(SmtpParse, CommandAddress)
{
    const std::string longAddress(120, 'a');
    const AddressCase cases[] = {
        {"MAIL FROM:<ann@example.org>", MailPrefix, "ann@example.org"},
        {"MAIL FROM:<>", MailPrefix, ""},
        {"MAIL FROM: <Ann@Example.org> SIZE=100", MailPrefix, "Ann@Example.org"},
        {"mail from: bob@example.org", MailPrefix, "bob@example.org"},
        {"MAIL FROM: bob", MailPrefix, "bob"},
        {"MAIL FROM: ", MailPrefix, std::nullopt},
        {"MAIL FROM:bob@example.org", MailPrefix, std::nullopt},
        {"MAIL FROM: <open", MailPrefix, "<open"},
        {"MAIL", MailPrefix, std::nullopt},
        {"MAIL x>y<", MailPrefix, std::nullopt},
        {"MAIL a<b<c>d", MailPrefix, "b<c"},
        {"RCPT TO:<Carl@Example.org>", RcptPrefix, "Carl@Example.org"},
        {"rcpt to: carl@example.org", RcptPrefix, "carl@example.org"},
        {"RCPT TO: ", RcptPrefix, std::nullopt},
        {"RCPT TO:carl", RcptPrefix, std::nullopt},
        {"RCPT TO:<" + longAddress + ">", RcptPrefix, longAddress.substr(0, 99)},
        {"MAIL FROM:<a\r\nSubject: x@y>", MailPrefix, "a  Subject: x@y"},
        {"mail from: a\nb", MailPrefix, "a b"},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(commandAddress(c.line, c.prefix), c.address);
    }
}

TEST(SmtpParse, CommandWordIsTheFirstFourCharactersLowercased)
{
    EXPECT_EQ(commandWord("MAIL FROM:<a@b>"), "mail");
    EXPECT_EQ(commandWord("RcPt TO:<a@b>"), "rcpt");
    EXPECT_EQ(commandWord("DATAGRAM"), "data");
    EXPECT_EQ(commandWord("QUIT"), "quit");
    EXPECT_EQ(commandWord("EHL"), "ehl");
}

TEST(SmtpParse, BlankLineBreaksKeepsEveryOtherByte)
{
    EXPECT_EQ(blankLineBreaks("a\rb\nc\r\nd"), "a b c  d");
    const std::string binary("\0\x01\xff\t", 4);
    EXPECT_EQ(blankLineBreaks(binary), binary);
}

} // namespace
} // namespace vantrel
