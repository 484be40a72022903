// The relay host dialogue as a table of reply sequences: what is sent after
// each reply, which recipients end up accepted or refused, and where the
// dialogue gives up. Also the log line of a finished relay.
#include "email/relay_dialogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

// Feeds the replies in order and writes down each step as text:
// "> command", "> <message>", "wait", "FAIL" or "DONE"; a handshake asked
// for is taken as done, "<tls>", and the command after it follows.
std::vector<std::string> run(RelayDialogue& dialogue, const std::vector<std::string>& replies)
{
    std::vector<std::string> steps;
    for (const std::string& reply : replies) {
        const RelayStep step = dialogue.onReply(reply);
        switch (step.action) {
        case RelayAction::Wait:
            steps.push_back("wait");
            break;
        case RelayAction::Send:
            steps.push_back("> " + step.line);
            break;
        case RelayAction::SendMessage:
            steps.push_back("> <message>");
            break;
        case RelayAction::StartTls:
            steps.push_back("<tls>");
            steps.push_back("> " + dialogue.onSecured().line);
            break;
        case RelayAction::Fail:
            steps.push_back("FAIL");
            return steps;
        case RelayAction::Done:
            steps.push_back("DONE");
            return steps;
        }
    }
    return steps;
}

TEST(RelayDialogue, SeveralGreetingLinesThenOneRefusedRecipient)
{
    RelayDialogue dialogue("mail.example", "Ann@Here.example", {"a@far.example", "b@far.example", "c@far.example"});
    EXPECT_EQ(run(dialogue, {"220-relay.example hello", "220-more", "220 ready", "250 relay.example", "250 sender ok",
                             "250 a ok", "250 b ok", "550 no such user", "354 go ahead", "250 queued", "221 bye"}),
              (std::vector<std::string>{"> HELO mail.example", "wait", "wait", "> MAIL FROM:<Ann@Here.example>",
                                        "> RCPT TO:<a@far.example>", "> RCPT TO:<b@far.example>",
                                        "> RCPT TO:<c@far.example>", "> DATA", "> <message>", "> QUIT", "DONE"}));
    EXPECT_TRUE(dialogue.quitSent());
    EXPECT_EQ(dialogue.accepted(), (std::vector<std::string>{"a@far.example", "b@far.example"}));
    EXPECT_EQ(dialogue.refused(), (std::vector<std::string>{"c@far.example"}));
}

TEST(RelayDialogue, GivesUpOnEveryUnexpectedReply)
{
    const std::vector<std::string> good = {"220 hi", "250 helo", "250 mail", "250 rcpt", "354 data", "250 sent"};
    const std::vector<std::string> bad = {"421 closing", "500 what", "550 sender", "", "250 not 354", "554 no"};
    for (std::size_t at = 0; at < good.size(); ++at) {
        if (bad[at].empty())
            continue; // any reply to RCPT is taken as accepted or refused
        std::vector<std::string> replies(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(at));
        replies.push_back(bad[at]);
        RelayDialogue dialogue("h", "s", {"r"});
        const std::vector<std::string> steps = run(dialogue, replies);
        EXPECT_EQ(steps.back(), "FAIL") << bad[at];
        EXPECT_EQ(steps.size(), at + 1) << bad[at];
        EXPECT_FALSE(dialogue.quitSent());
    }
}

TEST(RelayDialogue, AllRecipientsRefusedSendsNoData)
{
    RelayDialogue dialogue("h", "s", {"x@far", "y@far"});
    EXPECT_EQ(
        run(dialogue, {"220 hi", "250 helo", "250 mail", "550 x", "551 y"}),
        (std::vector<std::string>{"> HELO h", "> MAIL FROM:<s>", "> RCPT TO:<x@far>", "> RCPT TO:<y@far>", "FAIL"}));
    EXPECT_EQ(dialogue.refused(), (std::vector<std::string>{"x@far", "y@far"}));
}

TEST(RelayDialogue, ValuesCannotAddCommands)
{
    RelayDialogue dialogue("h\r\nRSET", "s>\r\nRCPT TO:<evil@x>", {"r\n@far\rDATA"});
    EXPECT_EQ(
        run(dialogue, {"220 hi", "250 helo", "250 mail"}),
        (std::vector<std::string>{"> HELO h  RSET", "> MAIL FROM:<s>  RCPT TO:<evil@x>>", "> RCPT TO:<r @far DATA>"}));
}

TEST(RelayDialogue, LogLineListsTheAcceptedAndTheRefused)
{
    EXPECT_EQ(relayLogLine("10.0.0.7", "client.example", "ann@here", {"a@far", "b@far"}, {"c@far"}),
              "Email Relayed: IP:[10.0.0.7], Host:[client.example], Mail From:[ann@here], Sent To:[a@far, b@far], "
              "Failed To Send[c@far]");
    EXPECT_EQ(relayLogLine("10.0.0.7", "h", "", {"a@far"}, {}),
              "Email Relayed: IP:[10.0.0.7], Host:[h], Mail From:[], Sent To:[a@far]");
    const std::vector<std::string> many(100, std::string(99, 'r'));
    EXPECT_EQ(relayLogLine("1.2.3.4", "h", "s", many, many).size(), 3047u);
}

TEST(RelayDialogue, WithMailTlsOnEhloThenStartTlsWhenOffered)
{
    const std::vector<std::string> offered = {"220 ready",    "250-relay.example", "250-STARTTLS", "250 8BITMIME",
                                              "220 go ahead", "250-relay.example", "250 8BITMIME", "250 ok"};
    const std::vector<std::string> secured = {"> EHLO mail.example",
                                              "wait",
                                              "wait",
                                              "> STARTTLS",
                                              "<tls>",
                                              "> EHLO mail.example",
                                              "wait",
                                              "> MAIL FROM:<ann@here.example>",
                                              "> RCPT TO:<a@far.example>"};
    const struct {
        RelayTls tls;
        std::vector<std::string> replies;
        std::vector<std::string> steps;
    } cases[] = {
        {RelayTls::Offered, offered, secured},
        {RelayTls::Required, offered, secured},
        // No STARTTLS: in clear, unless TLS is required.
        {RelayTls::Offered,
         {"220 ready", "250 relay.example", "250 ok"},
         {"> EHLO mail.example", "> MAIL FROM:<ann@here.example>", "> RCPT TO:<a@far.example>"}},
        {RelayTls::Required, {"220 ready", "250 relay.example"}, {"> EHLO mail.example", "FAIL"}},
        // EHLO refused: HELO, as with mail TLS off.
        {RelayTls::Offered,
         {"220 ready", "500 what", "250 relay.example"},
         {"> EHLO mail.example", "> HELO mail.example", "> MAIL FROM:<ann@here.example>"}},
        {RelayTls::Required,
         {"220 ready", "500 what", "250 relay.example"},
         {"> EHLO mail.example", "> HELO mail.example", "FAIL"}},
        // STARTTLS offered, then refused.
        {RelayTls::Offered,
         {"220 ready", "250-relay.example", "250 STARTTLS", "454 not now"},
         {"> EHLO mail.example", "wait", "> STARTTLS", "> MAIL FROM:<ann@here.example>"}},
        {RelayTls::Required,
         {"220 ready", "250-relay.example", "250 STARTTLS", "454 not now"},
         {"> EHLO mail.example", "wait", "> STARTTLS", "FAIL"}},
    };
    for (const auto& c : cases) {
        RelayDialogue dialogue("mail.example", "ann@here.example", {"a@far.example"}, c.tls);
        EXPECT_EQ(run(dialogue, c.replies), c.steps);
    }
}

} // namespace
} // namespace vantrel
