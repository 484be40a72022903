// Arbitrary REST arguments against a plain reading of the rule: blanks, an
// optional "+", then digits that must fit 64 bits; anything behind them is
// ignored.
#include "ftp/ftp_transfer.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view argument(reinterpret_cast<const char*>(data), size);
    std::uint64_t offset = 0;
    const bool parsed = vantrel::parseRestartOffset(argument, offset);

    std::size_t at = argument.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string_view::npos)
        at = argument.size();
    if (at < argument.size() && argument[at] == '+')
        ++at;
    std::uint64_t expected = 0;
    const auto [end, error] = std::from_chars(argument.data() + at, argument.data() + argument.size(), expected);
    (void)end;
    const bool valid = error == std::errc();
    if (parsed != valid || (valid && offset != expected))
        __builtin_trap();
    return 0;
}
