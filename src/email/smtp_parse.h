// The pure parts of reading SMTP command lines: the host of a greeting, the
// address of MAIL and RCPT, the command word. They take a line as the line
// reader hands it out (without its CR LF) and do no I/O. A line can still
// hold single CR or LF bytes, since only the pair ends it; every text taken
// from a line has them turned into blanks, so that nothing a client sends
// becomes a line break in a stored header or a log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

constexpr std::size_t SmtpTextLimit = 99;
constexpr std::size_t SmtpWordLength = 4;
constexpr std::string_view MailPrefix = "mail from: ";
constexpr std::string_view RcptPrefix = "rcpt to: ";

// The text with every CR and LF byte written as a blank.
std::string blankLineBreaks(std::string_view text);

// A greeting is any line of at least 6 characters that starts with 'H' or
// 'h'; its host is the text from the sixth character on, cut to 99.
// Nothing when the line is no greeting.
std::optional<std::string> greetingHost(std::string_view line);
// With mail TLS on, "EHLO" (any case) and a host: the host as for HELO.
// Nothing for any other line.
std::optional<std::string> extendedGreetingHost(std::string_view line);

// The "SIZE=n" parameter behind the address of a MAIL line (any case):
// n, capped at a value beyond every message size. Nothing when the line
// names no size.
std::optional<std::uint64_t> declaredSize(std::string_view line);

// The address of a MAIL or RCPT line: the text between the first '<' and
// the next '>' (empty brackets give an empty address); without such a
// pair, the text after `prefix` when the line starts with it (any case)
// and goes on beyond it. Cut to 99. Nothing when neither applies.
std::optional<std::string> commandAddress(std::string_view line, std::string_view prefix);

// The first four characters, lowercased: what selects a command.
std::string commandWord(std::string_view line);

} // namespace vantrel
