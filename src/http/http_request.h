// The request head as the server reads it: one line at a time, keeping only
// the target of a GET or HEAD line and the Host, If-Modified-Since and
// referer values. Pure: lines in, values out, no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

struct HttpRequestHead {
    static constexpr char UnknownReferer[] = "Unknown";

    std::string url;
    bool headOnly = false;
    std::string host;
    std::string ifModifiedSince;
    std::string referer = UnknownReferer;
    // "Connection: close": the client sends nothing after this request.
    bool closeAnnounced = false;
    // A Content-Length other than 0, or a Transfer-Encoding: a body follows.
    bool bodyAnnounced = false;

    // Nothing but this head comes from the client, so its end of the
    // stream need not be waited for before closing.
    bool saysNothingMore() const { return closeAnnounced && !bodyAnnounced; }
};

// Applies one head line (without its CR LF, at most 3999 characters as the
// line reader delivers it). Prefixes compare without ASCII letter case;
// each value has a window of line lengths outside which the line is
// ignored, and a later line overwrites an earlier value.
void applyHeadLine(HttpRequestHead& head, std::string_view line);

// The site-relative path of a request target: lower case, "\" separators,
// beginning with "\", ending with "\" when the target ended with a slash.
// Only "%20" is decoded; a query stays part of the path.
std::string urlToPath(std::string_view url);
// The same; false when the path was too long to be cleaned whole and had to
// be cut, so that it names something else than the target asked for.
[[nodiscard]] bool urlToPath(std::string_view url, std::string& path);

} // namespace vantrel
