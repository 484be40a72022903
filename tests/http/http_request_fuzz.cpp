// libFuzzer target for the request head parser and the target-to-path
// mapping: arbitrary bytes, split at LF, as head lines of one request.
#include "http/http_request.h"
#include "http/http_session.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    vantrel::HttpRequestHead head;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        // The line reader never hands out more than 3999 characters.
        vantrel::applyHeadLine(head, input.substr(0, end).substr(0, 3999));
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    // Every path starts at the site root and no name in it begins with a dot.
    const std::string path = vantrel::urlToPath(head.url);
    if (path.empty() || path.front() != '\\' || path.find("\\.") != std::string::npos)
        __builtin_trap();
    (void)vantrel::requestLogText(vantrel::ResponseKind::NotFound, head);
    return 0;
}
