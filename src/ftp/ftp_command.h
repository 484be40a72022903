// One command line of the command phase and the outcome of handling it.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantrel {

enum class CommandOutcome {
    Continue,
    EndSession
};

struct FtpCommand {
    std::string_view line;  // Telnet bytes removed
    std::size_t wordLength; // 3 or 4

    // A command has an argument when the line goes on past the blank
    // after its word; the argument starts there.
    bool hasArgument() const { return line.size() > wordLength + 1; }
    std::string_view argument() const { return hasArgument() ? line.substr(wordLength + 1) : std::string_view{}; }
};

} // namespace vantrel
