// Arbitrary PORT arguments: an accepted one names an address of four
// numbers 0-255 and an unprivileged port, and the argument rebuilt from
// that result parses to the same result again.
#include "ftp/ftp_data_channel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// True when `text` is "a.b.c.d" with each number 0-255 and no leading zero.
bool isDottedAddress(std::string_view text, std::string& commas)
{
    int numbers = 0;
    while (numbers < 4) {
        std::size_t digits = 0;
        int value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + (text[digits] - '0');
            if (++digits > 3)
                return false;
        }
        if (digits == 0 || value > 255 || (digits > 1 && text[0] == '0'))
            return false;
        commas.append(text.substr(0, digits)).push_back(',');
        text.remove_prefix(digits);
        ++numbers;
        if (numbers < 4) {
            if (text.empty() || text.front() != '.')
                return false;
            text.remove_prefix(1);
        }
    }
    return text.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view argument(reinterpret_cast<const char*>(data), size);
    vantrel::PortTarget target;
    const vantrel::PortParse result = vantrel::parsePortArgument(argument, target);
    if (result != vantrel::PortParse::Ok)
        return 0;
    std::string rebuilt;
    if (target.port < 1024 || !isDottedAddress(target.address, rebuilt))
        __builtin_trap();
    rebuilt += std::to_string(target.port / 256) + "," + std::to_string(target.port % 256);
    vantrel::PortTarget again;
    if (vantrel::parsePortArgument(rebuilt, again) != vantrel::PortParse::Ok || again.address != target.address ||
        again.port != target.port)
        __builtin_trap();
    return 0;
}
