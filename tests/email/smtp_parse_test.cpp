// The SMTP command line parsers: greeting hosts, MAIL and RCPT addresses,
// command words, and that no CR or LF of a line survives into a text taken
// from it.
#include "email/smtp_parse.h"

#include <gtest/gtest.h>

#include <cstdint>
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

TEST(SmtpParse, ExtendedGreetingHostAndDeclaredSize)
{
    EXPECT_EQ(extendedGreetingHost("EHLO client.example"), "client.example");
    EXPECT_EQ(extendedGreetingHost("ehlo a\r\nb"), "a  b");
    EXPECT_EQ(extendedGreetingHost("EHLO "), std::nullopt);
    EXPECT_EQ(extendedGreetingHost("HELO client.example"), std::nullopt);
    const struct {
        const char* line;
        std::optional<std::uint64_t> size;
    } cases[] = {
        {"MAIL FROM:<a@b> SIZE=1000", 1000},
        {"mail from:<a@b> body=8bitmime size=42", 42},
        {"MAIL FROM:<a@b>SIZE=5", std::nullopt},   // not a parameter of its own
        {"MAIL FROM:<a@b> XSIZE=5", std::nullopt}, // another parameter's name
        {"MAIL FROM:<a@b> SIZE=", std::nullopt},   // no number
        {"MAIL FROM:a@b SIZE=5", std::nullopt},    // no address in brackets
        {"MAIL FROM:<size=5@b>", std::nullopt},    // inside the address
        {"MAIL FROM:<a@b> SIZE=99999999999999999999999", std::uint64_t{1} << 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(declaredSize(c.line), c.size);
    }
}

} // namespace
} // namespace vantrel
