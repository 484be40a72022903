// Arbitrary bytes, split at LF, as the head lines of one request: the head
// parser must keep every value within its window, map the target below
// the site root and give a bounded log text.
#include "http/http_request.h"
#include "http/http_session.h"

#include <cstddef>
#include <cstdint>
#include <string>
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
    if (head.url.size() > 3999 || head.host.size() > 256 || head.ifModifiedSince.size() > 199 ||
        head.referer.size() > 1999)
        __builtin_trap();
    // Every path starts at the site root and no name in it begins with a dot.
    const std::string path = vantrel::urlToPath(head.url);
    if (path.empty() || path.front() != '\\' || path.find("\\.") != std::string::npos)
        __builtin_trap();
    if (vantrel::requestLogText(vantrel::ResponseKind::NotFound, head).size() > 3999)
        __builtin_trap();
    return 0;
}
