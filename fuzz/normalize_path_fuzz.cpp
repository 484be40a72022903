// Feeds arbitrary text to normalizePath and checks what must always hold:
// no name that starts with a dot, no device name, no "/" and no empty name
// survive, and the cleaned part stays within the working length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/normalize_path.h"
#include "foundation/text.h"

namespace {

bool isDevice(std::string_view name)
{
    for (const char* device : {"aux", "con", "com1", "com2", "com3", "com4", "lpt1", "lpt2", "lpt3", "prn", "nul"}) {
        if (vantrel::equalsIgnoreCase(name, device))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    vantrel::normalizePath(text);
    if (text.find('/') != std::string::npos || text.find('\0') != std::string::npos)
        __builtin_trap();

    std::string_view rest(text);
    if (rest.size() >= 3 && rest[1] == ':' && rest[2] == '\\')
        rest.remove_prefix(3);
    if (!rest.empty() && rest.front() == '\\')
        rest.remove_prefix(1);
    if (rest.size() > 260)
        __builtin_trap();
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view name = rest.substr(0, cut);
        if (name.empty() || name.front() == '.' || isDevice(name))
            __builtin_trap();
        if (cut == std::string_view::npos)
            break;
        rest.remove_prefix(cut + 1);
    }
    return 0;
}
