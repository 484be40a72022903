// Feeds arbitrary messages to the hop counter and checks what must always
// hold: the count stays within its limit, a lower limit only cuts it, and
// it never exceeds the "received:" texts the bytes hold.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "email/hop_count.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    const int full = vantrel::countHops(message, vantrel::HopLimit);
    if (full < 0 || full > vantrel::HopLimit)
        __builtin_trap();
    for (const int limit : {0, 1, 3})
        if (vantrel::countHops(message, limit) != std::min(full, limit))
            __builtin_trap();
    std::string lowered(message);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    int texts = 0;
    for (std::size_t at = lowered.find("received:"); at != std::string::npos; at = lowered.find("received:", at + 1))
        ++texts;
    if (full > texts)
        __builtin_trap();
    return 0;
}
