// POP3 line recognition: the transaction phase's rules in their order and
// with their length bounds, the authorization phase's steps, and the
// numbers after a command word.
#include "email/pop3_command.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace vantrel::pop3 {
namespace {

struct CommandCase {
    const char* line;
    Command command;
};

class CommandLine : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandLine, IsRecognised)
{
    EXPECT_EQ(classifyCommand(GetParam().line), GetParam().command) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Rules, CommandLine,
                         testing::Values(CommandCase{"quit", Command::Quit}, CommandCase{"QUIT now", Command::Quit},
                                         CommandCase{"quitting", Command::Quit}, CommandCase{"NoOp", Command::Noop},
                                         // "retr " and "dele " need a sixth character.
                                         CommandCase{"retr 1", Command::Retr}, CommandCase{"RETR ", Command::Unknown},
                                         CommandCase{"retr", Command::Unknown}, CommandCase{"retrx", Command::Unknown},
                                         CommandCase{"top 1", Command::Top}, CommandCase{"top ", Command::Unknown},
                                         CommandCase{"TOP 1 5", Command::Top}, CommandCase{"uidl", Command::UidlAll},
                                         CommandCase{"uidlx", Command::UidlAll}, CommandCase{"UIDL ", Command::UidlOne},
                                         CommandCase{"uidl 3", Command::UidlOne}, CommandCase{"rset", Command::Rset},
                                         CommandCase{"dele 2", Command::Dele}, CommandCase{"dele ", Command::Unknown},
                                         CommandCase{"stat", Command::Stat}, CommandCase{"STATUS", Command::Stat},
                                         // LIST alone up to five characters, with a number from six.
                                         CommandCase{"list", Command::ListAll}, CommandCase{"list ", Command::ListAll},
                                         CommandCase{"listx", Command::ListAll},
                                         CommandCase{"list 1", Command::ListOne},
                                         CommandCase{"LIST abc", Command::ListOne}, CommandCase{"help", Command::Help},
                                         // USER and PASS mean nothing here.
                                         CommandCase{"user bob", Command::Unknown},
                                         CommandCase{"pass secret", Command::Unknown},
                                         CommandCase{"capa", Command::Unknown}, CommandCase{" quit", Command::Unknown},
                                         // Only the letters A to Z compare without case.
                                         CommandCase{"qu\xc9t", Command::Unknown}));

struct LoginCase {
    const char* line;
    LoginStep step;
};

class LoginLine : public testing::TestWithParam<LoginCase> {};

TEST_P(LoginLine, IsRecognised)
{
    EXPECT_EQ(classifyLoginLine(GetParam().line), GetParam().step) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LoginLine,
    testing::Values(LoginCase{"a", LoginStep::BadCommand}, LoginCase{"qui", LoginStep::BadCommand},
                    LoginCase{"quit", LoginStep::Quit}, LoginCase{"QUIT please", LoginStep::Quit},
                    // USER without a name is four or five characters long.
                    LoginCase{"user", LoginStep::BadCommand}, LoginCase{"user ", LoginStep::BadCommand},
                    LoginCase{"noop!", LoginStep::BadCommand}, LoginCase{"user b", LoginStep::User},
                    LoginCase{"USER Bob", LoginStep::User}, LoginCase{"pass x", LoginStep::Pass},
                    LoginCase{"PaSs secret", LoginStep::Pass}, LoginCase{"userbob", LoginStep::Other},
                    LoginCase{"apop bob 0123", LoginStep::Other}));

TEST(LoginArgument, IsTheRestCutToNinetyNineCharacters)
{
    EXPECT_EQ(loginArgument("user Bob"), "Bob");
    EXPECT_EQ(loginArgument("pass  two blanks "), " two blanks ");
    const std::string longName = "user " + std::string(150, 'n');
    EXPECT_EQ(loginArgument(longName), std::string(99, 'n'));
}

struct NumberCase {
    const char* text;
    int value;
};

class Number : public testing::TestWithParam<NumberCase> {};

TEST_P(Number, ReadsLikeADecimalScan)
{
    EXPECT_EQ(parseNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, Number,
                         testing::Values(NumberCase{"1", 1}, NumberCase{"  42", 42}, NumberCase{"\t7 8", 7},
                                         NumberCase{"12abc", 12}, NumberCase{"+5", 5}, NumberCase{"-1", -1},
                                         NumberCase{"", 0}, NumberCase{"abc", 0}, NumberCase{"- 5", 0},
                                         NumberCase{"+", 0}, NumberCase{"007", 7}, NumberCase{"2147483647", INT_MAX},
                                         NumberCase{"-2147483648", INT_MIN},
                                         // Out of range never wraps round to a small message number.
                                         NumberCase{"4294967297", INT_MAX},
                                         NumberCase{"99999999999999999999999", INT_MAX},
                                         NumberCase{"-4294967297", INT_MIN}));

TEST(MessageNumber, FollowsTheWordAndItsSpace)
{
    EXPECT_EQ(messageNumberOf("retr 3", 5), 3);
    EXPECT_EQ(messageNumberOf("list abc", 5), 0);
    EXPECT_EQ(messageNumberOf("uidl ", 5), 0);
    EXPECT_EQ(messageNumberOf("dele   12 ", 5), 12);
}

struct TopCase {
    const char* line;
    int message;
    int lines;
};

class Top : public testing::TestWithParam<TopCase> {};

TEST_P(Top, ReadsMessageAndLineCount)
{
    const TopArguments arguments = parseTopArguments(GetParam().line);
    EXPECT_EQ(arguments.message, GetParam().message) << GetParam().line;
    EXPECT_EQ(arguments.lines, GetParam().lines) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Lines, Top,
                         testing::Values(TopCase{"top 1 0", 1, 0}, TopCase{"top 1", 1, 0}, TopCase{"top 2 10", 2, 10},
                                         TopCase{"TOP 3  4 extra", 3, 4}, TopCase{"top 1 x", 1, 0},
                                         TopCase{"top 1 -1", 1, -1},
                                         // The second number may follow the first without a blank.
                                         TopCase{"top 1-1", 1, -1}, TopCase{"top x 5", 0, 0}, TopCase{"top ", 0, 0}));

} // namespace
} // namespace vantrel::pop3
