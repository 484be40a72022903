// Feeds arbitrary text to normalizePath and checks what must always hold:
// no name that starts with a dot, no device name, no "/" and no empty name
// survive, and the cleaned part stays within the working length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/normalize_path.h"
#include "path_names.h"

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
    if (!fuzzcheck::namesAreSafe(rest))
        __builtin_trap();
    return 0;
}
