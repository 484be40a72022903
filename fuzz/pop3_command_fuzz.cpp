// libFuzzer target for the POP3 line parsers and the TOP line rules:
// arbitrary bytes as a command line of either phase, and, split at LF, as
// the lines of a stored message.
#include "email/pop3_command.h"
#include "email/pop3_message_rules.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vantrel::pop3;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view line = input.substr(0, CommandLineSize - 1);
    const Command command = classifyCommand(line);
    if (command != Command::Unknown && line.size() < 4)
        __builtin_trap();
    (void)classifyLoginLine(input.substr(0, LoginLineSize - 1));
    if (loginArgument(input).size() > MaxLoginText)
        __builtin_trap();
    const TopArguments top = parseTopArguments(line);
    (void)messageNumberOf(line, 5);

    // Whatever the lines, TOP comes to an end within the file's bytes and
    // its output ends with the "." line.
    TopWriter writer(top.lines, size);
    std::string out;
    std::string_view rest = input;
    bool done = false;
    for (std::size_t guard = 0; guard <= size + 1 && !done; ++guard) {
        if (writer.endIfExhausted(out)) {
            done = true;
            break;
        }
        const std::size_t end = rest.find('\n');
        done = writer.takeLine(rest.substr(0, end).substr(0, TopWriter::LineCapacity - 1), out);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    if (!done || out.size() < 3 || out.compare(out.size() - 3, 3, ".\r\n") != 0)
        __builtin_trap();
    return 0;
}
