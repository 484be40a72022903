// Arbitrary request targets through urlToPath: whatever a client asks for,
// the path stays below the site root, in lower case, with no name that
// begins with a dot, no device name and no empty name.
#include "http/http_request.h"
#include "path_names.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const std::string path = vantrel::urlToPath(url);
    // At most the 260 working characters, after a prefix of up to three
    // (a separator, or a drive-like one such as "/:/" becomes) and before
    // a final separator.
    if (path.empty() || path.front() != '\\' || path.size() > 3 + 260 + 1)
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
    if (!fuzzcheck::namesAreSafe(rest))
        __builtin_trap();
    return 0;
}
