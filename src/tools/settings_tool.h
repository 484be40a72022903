// SettingsTool: the logic of the vantrel-settings command. It prints the
// records of one ".dat" settings file as text (position, name, a guess at
// the value's kind, the value) and sets, appends or removes a text or
// integer record. A file that exists but does not parse cleanly is never
// rewritten, so the tool cannot turn a damaged file into a truncated one.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

// What a record's bytes most likely hold; the file itself does not say.
enum class ValueKind {
    Empty,   // no bytes at all
    Integer, // exactly 4 bytes that do not read as a short text
    Text,    // printable characters and one terminating zero
    Raw,     // printable characters without a terminating zero (folder
             // paths in httpdomains.dat)
    Bytes    // anything else, shown in hexadecimal
};

ValueKind guessValueKind(std::span<const unsigned char> value);
std::string_view valueKindName(ValueKind kind);

class SettingsTool final {
public:
    SettingsTool(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    // Runs one command given as the words after the program name; returns
    // the process exit code (0 done, 1 failed, 2 bad command line).
    int run(std::span<const std::string> args);

private:
    std::ostream& out_;
    std::ostream& err_;
};

} // namespace vantrel
