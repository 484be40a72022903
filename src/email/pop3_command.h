// Recognition of POP3 command lines, free of I/O: which command a line of
// the transaction phase is (first rule of the command table that matches,
// letters compared without case), what the authorization phase makes of a
// line, and the message numbers that follow a command word.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantrel::pop3 {

// Capacities of the line buffers: a longer line is cut to capacity - 1.
constexpr std::size_t LoginLineSize = 1024;
constexpr std::size_t CommandLineSize = 100;
// USER and PASS keep at most this many characters.
constexpr std::size_t MaxLoginText = 99;

enum class Command {
    Quit,
    Noop,
    Retr,
    Top,
    UidlAll,
    UidlOne,
    Rset,
    Dele,
    Stat,
    ListAll,
    ListOne,
    Help,
    Unknown,
};

// The command of a transaction-phase line of 4 characters or more.
Command classifyCommand(std::string_view line);

enum class LoginStep {
    BadCommand, // 1 to 5 characters (not QUIT)
    Quit,
    User, // "user " and a name
    Pass, // "pass " and a password
    Other,
};

// What a non-empty authorization-phase line asks for.
LoginStep classifyLoginLine(std::string_view line);
// The text after "user " or "pass ", cut to MaxLoginText characters.
std::string_view loginArgument(std::string_view line);

// True when the line begins with word, letters compared without case.
bool beginsWith(std::string_view line, std::string_view word);

// The decimal number at the start of text, after any white space, with an
// optional sign; 0 when none can be read. A number out of the int range
// gives INT_MAX or INT_MIN, which name no message.
int parseNumber(std::string_view text, std::size_t* used = nullptr);

// The argument after a command word and its space ("retr 2" gives 2).
int messageNumberOf(std::string_view line, std::size_t wordLength);

struct TopArguments {
    int message = 0;
    int lines = 0; // 0 when absent
};
// "top n k": the two numbers after "top ".
TopArguments parseTopArguments(std::string_view line);

} // namespace vantrel::pop3
