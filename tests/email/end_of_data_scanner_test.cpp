// The end-of-data scanner: the stored bytes and the end of the message for
// the plain, dot-stuffed and lenient-reader forms, wherever the receives
// split them, with the client's next commands in the same receive; and a
// randomised comparison with a whole-message model built another way (the
// message cut into lines at CR LF, LF or CR, and a line holding only a dot
// doubled unless CR LF both opens and closes it).
#include "email/end_of_data_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace vantrel {
namespace {

struct Outcome {
    std::string stored;
    std::size_t used = 0;
    bool complete = false;
};

// Feeds the input in pieces cut at the given positions, as successive receives.
Outcome scanInPieces(const std::string& input, const std::vector<std::size_t>& cuts)
{
    EndOfDataScanner scanner;
    scanner.reset();
    Outcome outcome;
    std::size_t from = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(input.size());
    for (const std::size_t end : ends) {
        if (end < from)
            continue;
        const auto step = scanner.scan(std::string_view(input).substr(from, end - from), outcome.stored);
        outcome.used += step.used;
        if (step.complete) {
            outcome.complete = true;
            EXPECT_TRUE(scanner.complete());
            break;
        }
        EXPECT_EQ(step.used, end - from);
        from = end;
    }
    return outcome;
}

struct FormCase {
    const char* name;
    std::string received; // after the DATA line
    std::string stored;   // the message as stored, its end mark included
    std::string next;     // what follows the mark: the next commands
};

const std::vector<FormCase>& formCases()
{
    static const std::vector<FormCase> cases{
        {"plain", "Subject: a\r\n\r\nbody\r\n.\r\n", "Subject: a\r\n\r\nbody\r\n.\r\n", ""},
        {"just a dot", ".\r\n", ".\r\n", ""},
        {"empty line then mark", "\r\n.\r\n", "\r\n.\r\n", ""},
        {"pipelined QUIT", "hi\r\n.\r\nQUIT\r\n", "hi\r\n.\r\n", "QUIT\r\n"},
        {"pipelined MAIL and more", "x\r\n.\r\nMAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\n", "x\r\n.\r\n",
         "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\n"},
        {"second mark stays behind", "a\r\n.\r\nb\r\n.\r\n", "a\r\n.\r\n", "b\r\n.\r\n"},
        {"dot-stuffed lines", "..\r\n..x\r\n.a\r\na.\r\n.\r\n", "..\r\n..x\r\n.a\r\na.\r\n.\r\n", ""},
        {"LF dot LF", "a\n.\nb\r\n.\r\n", "a\n..\nb\r\n.\r\n", ""},
        {"LF dot CRLF", "a\n.\r\nb\r\n.\r\n", "a\n..\r\nb\r\n.\r\n", ""},
        {"CRLF dot LF", "a\r\n.\nb\r\n.\r\n", "a\r\n..\nb\r\n.\r\n", ""},
        {"CR dot CR", "a\r.\rb\r\n.\r\n", "a\r..\rb\r\n.\r\n", ""},
        {"CR dot CRLF", "a\r.\r\nb\r\n.\r\n", "a\r..\r\nb\r\n.\r\n", ""},
        {"CRLF dot CR", "a\r\n.\rb\r\n.\r\n", "a\r\n..\rb\r\n.\r\n", ""},
        {"dot LF right after DATA", ".\nb\r\n.\r\n", "..\nb\r\n.\r\n", ""},
        {"bare LF after DATA", "\n.\nb\r\n.\r\n", "\n..\nb\r\n.\r\n", ""},
        {"smuggled message behind LF dot LF", "a\n.\nMAIL FROM:<x@y>\nRCPT TO:<v@w>\nDATA\nevil\n.\n\r\n.\r\n",
         "a\n..\nMAIL FROM:<x@y>\nRCPT TO:<v@w>\nDATA\nevil\n..\n\r\n.\r\n", ""},
        {"lone dots in a row", ".\n.\n.\r\n.\r\n", "..\n..\n..\r\n.\r\n", ""},
        {"CR CR LF before the dot", "a\r\r\n.\r\n", "a\r\r\n.\r\n", ""},
        {"dot CR CR LF", "a\r\n.\r\r\n.\r\n", "a\r\n..\r\r\n.\r\n", ""},
        {"binary bytes", std::string("\0\xff\x01.\r\n\x80\r\n.\r\n", 12),
         std::string("\0\xff\x01.\r\n\x80\r\n.\r\n", 12), ""},
    };
    return cases;
}

TEST(EndOfDataScanner, FormsInOneReceive)
{
    for (const FormCase& c : formCases()) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = scanInPieces(c.received, {});
        ASSERT_TRUE(outcome.complete);
        EXPECT_EQ(outcome.stored, c.stored);
        EXPECT_EQ(c.received.substr(outcome.used), c.next);
    }
}

TEST(EndOfDataScanner, FormsSplitAtEveryPositionAndByteByByte)
{
    for (const FormCase& c : formCases()) {
        SCOPED_TRACE(c.name);
        for (std::size_t cut = 0; cut <= c.received.size(); ++cut) {
            SCOPED_TRACE(cut);
            const Outcome outcome = scanInPieces(c.received, {cut});
            ASSERT_TRUE(outcome.complete);
            EXPECT_EQ(outcome.stored, c.stored);
            EXPECT_EQ(c.received.substr(outcome.used), c.next);
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t i = 1; i < c.received.size(); ++i)
            everyByte.push_back(i);
        const Outcome outcome = scanInPieces(c.received, everyByte);
        ASSERT_TRUE(outcome.complete);
        EXPECT_EQ(outcome.stored, c.stored);
        EXPECT_EQ(c.received.substr(outcome.used), c.next);
    }
}

TEST(EndOfDataScanner, HoldsBackOnlyWhatTheNextByteDecides)
{
    EndOfDataScanner scanner;
    scanner.reset();
    std::string stored;
    EXPECT_FALSE(scanner.scan("abc\r\n.", stored).complete);
    EXPECT_EQ(stored, "abc\r\n.");
    EXPECT_FALSE(scanner.scan("\r", stored).complete);
    EXPECT_EQ(stored, "abc\r\n.");
    const auto step = scanner.scan("\nNOOP\r\n", stored);
    EXPECT_TRUE(step.complete);
    EXPECT_EQ(step.used, 1u);
    EXPECT_EQ(stored, "abc\r\n.\r\n");
    // Nothing more belongs to the message.
    EXPECT_EQ(scanner.scan("more", stored).used, 0u);
    scanner.reset();
    EXPECT_FALSE(scanner.complete());
    EXPECT_TRUE(scanner.scan(".\r\n", stored).complete);
}

TEST(EndOfDataScanner, NoMarkMeansEverythingIsUsed)
{
    EndOfDataScanner scanner;
    scanner.reset();
    std::string stored;
    const std::string text = "line\n.\nline\r.\rline\r\n..\r\n";
    const auto step = scanner.scan(text, stored);
    EXPECT_FALSE(step.complete);
    EXPECT_EQ(step.used, text.size());
    EXPECT_EQ(stored, "line\n..\nline\r..\rline\r\n..\r\n");
}

// The model: the message is everything up to the first CR LF "." CR LF,
// counting the DATA line's CR LF; its lines are cut at CR LF, LF or CR.
std::string modelStored(const std::string& received, std::size_t& used)
{
    const std::string full = "\r\n" + received;
    const std::size_t mark = full.find("\r\n.\r\n");
    used = mark + 5 - 2;
    const std::string message = full.substr(0, mark + 5);
    std::string stored;
    std::string before;
    std::size_t at = 0;
    for (std::size_t end = message.find_first_of("\r\n"); end != std::string::npos;
         end = message.find_first_of("\r\n", at)) {
        const std::string line = message.substr(at, end - at);
        const std::size_t breakLength = message.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        const std::string after = message.substr(end, breakLength);
        const bool loneDot = line == "." && !(before == "\r\n" && after == "\r\n");
        stored += (loneDot ? ".." : line) + after;
        before = after;
        at = end + breakLength;
    }
    return stored.substr(2);
}

TEST(EndOfDataScanner, AgreesWithTheLineModelOnRandomInput)
{
    std::mt19937 random(20240607);
    const char alphabet[] = {'\r', '\n', '.', 'a'};
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 3000; ++round) {
        std::string received;
        const int n = length(random);
        for (int i = 0; i < n; ++i)
            received.push_back(alphabet[pick(random)]);
        received += "\r\n.\r\nNOOP\r\n";
        std::vector<std::size_t> cuts;
        std::uniform_int_distribution<std::size_t> where(0, received.size());
        for (int i = 0; i < 3; ++i)
            cuts.push_back(where(random));
        std::sort(cuts.begin(), cuts.end());
        std::size_t modelUsed = 0;
        const std::string expected = modelStored(received, modelUsed);
        const Outcome outcome = scanInPieces(received, cuts);
        ASSERT_TRUE(outcome.complete) << testing::PrintToString(received);
        ASSERT_EQ(outcome.stored, expected) << testing::PrintToString(received);
        ASSERT_EQ(outcome.used, modelUsed) << testing::PrintToString(received);
    }
}

} // namespace
} // namespace vantrel
