// Arbitrary request targets through urlToPath: whatever a client asks for,
// the path stays below the site root, in lower case, with no name that
// begins with a dot, no device name and no empty name.
#include "http/http_request.h"
#include "foundation/text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const std::string path = vantrel::urlToPath(url);
    if (path.empty() || path.front() != '\\' || path.size() > 262)
        __builtin_trap();
    if (path.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        __builtin_trap();
    for (const char c : path) {
        if (c >= 'A' && c <= 'Z')
            __builtin_trap();
    }
    // The root asked for with a final slash is the one path with an empty name.
    if (path == "\\\\")
        return 0;
    std::string_view rest(path);
    rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
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
