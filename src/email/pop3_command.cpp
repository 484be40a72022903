// POP3 line recognition. The transaction phase's command table lists each
// rule in the order it is tried; a rule matches a line that begins with its
// word and whose length lies within the rule's bounds. Lines of one to
// three characters never get here: the session answers them itself.
#include "email/pop3_command.h"

#include "foundation/text.h"

#include <algorithm>
#include <array>
#include <climits>

namespace vantrel::pop3 {

namespace {

constexpr std::size_t AnyLength = static_cast<std::size_t>(-1);

struct CommandRule {
    std::string_view word;
    std::size_t minLength;
    std::size_t maxLength;
    Command command;
};

// "uidl " before "uidl" and the two "list" rules split by length: each pair
// is one rule of two cases that never both match.
constexpr std::array<CommandRule, 12> CommandRules{{
    {"quit", 0, AnyLength, Command::Quit},
    {"noop", 0, AnyLength, Command::Noop},
    {"retr ", 6, AnyLength, Command::Retr},
    {"top ", 5, AnyLength, Command::Top},
    {"uidl ", 0, AnyLength, Command::UidlOne},
    {"uidl", 0, AnyLength, Command::UidlAll},
    {"rset", 0, AnyLength, Command::Rset},
    {"dele ", 6, AnyLength, Command::Dele},
    {"stat", 0, AnyLength, Command::Stat},
    {"list", 0, 5, Command::ListAll},
    {"list", 6, AnyLength, Command::ListOne},
    {"help", 0, AnyLength, Command::Help},
}};

constexpr std::string_view UserWord = "user ";
constexpr std::string_view PassWord = "pass ";
constexpr std::string_view QuitWord = "quit";
constexpr std::string_view TopWord = "top ";

} // namespace

bool beginsWith(std::string_view line, std::string_view word)
{
    return line.size() >= word.size() && equalsIgnoreCase(line.substr(0, word.size()), word);
}

Command classifyCommand(std::string_view line)
{
    for (const CommandRule& rule : CommandRules) {
        if (line.size() >= rule.minLength && line.size() <= rule.maxLength && beginsWith(line, rule.word))
            return rule.command;
    }
    return Command::Unknown;
}

LoginStep classifyLoginLine(std::string_view line)
{
    if (line.size() <= 3)
        return LoginStep::BadCommand;
    if (beginsWith(line, QuitWord))
        return LoginStep::Quit;
    if (line.size() <= 5)
        return LoginStep::BadCommand;
    if (beginsWith(line, UserWord))
        return LoginStep::User;
    if (beginsWith(line, PassWord))
        return LoginStep::Pass;
    return LoginStep::Other;
}

std::string_view loginArgument(std::string_view line)
{
    // "user " and "pass " have the same length.
    const std::string_view rest = line.substr(std::min(line.size(), UserWord.size()));
    return rest.substr(0, std::min(rest.size(), MaxLoginText));
}

int parseNumber(std::string_view text, std::size_t* used)
{
    std::size_t at = 0;
    while (at < text.size() && isSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t digitsFrom = at;
    long long value = 0;
    bool overflow = false;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (!overflow) {
            value = value * 10 + (text[at] - '0');
            overflow = value > static_cast<long long>(INT_MAX) + 1;
        }
        ++at;
    }
    if (at == digitsFrom) {
        if (used != nullptr)
            *used = 0;
        return 0;
    }
    if (used != nullptr)
        *used = at;
    if (negative)
        return overflow ? INT_MIN : static_cast<int>(-value);
    return overflow || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int messageNumberOf(std::string_view line, std::size_t wordLength)
{
    return parseNumber(line.substr(std::min(line.size(), wordLength)));
}

TopArguments parseTopArguments(std::string_view line)
{
    TopArguments arguments;
    const std::string_view rest = line.substr(std::min(line.size(), TopWord.size()));
    std::size_t used = 0;
    arguments.message = parseNumber(rest, &used);
    // The line count follows after optional white space; without a first
    // number there is no second one.
    if (used > 0)
        arguments.lines = parseNumber(rest.substr(used));
    return arguments;
}

} // namespace vantrel::pop3
