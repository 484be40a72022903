// Parsing the request head and turning a request target into a path.
#include "http/http_request.h"

#include "foundation/normalize_path.h"
#include "foundation/text.h"

#include <array>

namespace vantrel {

namespace {

enum class HeadField {
    GetUrl,
    HeadUrl,
    Host,
    IfModifiedSince,
    Referer,
    Connection,
    ContentLength,
    TransferEncoding
};

struct HeadRule {
    std::string_view prefix;
    std::size_t shortest; // whole line length, inclusive
    std::size_t longest;
    HeadField field;
};

constexpr std::array<HeadRule, 8> HeadRules{{
    {"Get ", 14, 3999, HeadField::GetUrl},
    {"Head ", 14, 3999, HeadField::HeadUrl},
    {"Host: ", 7, 256, HeadField::Host},
    {"If-Modified-Since: ", 26, 199, HeadField::IfModifiedSince},
    {"referer: ", 10, 1999, HeadField::Referer},
    {"Connection:", 11, 3999, HeadField::Connection},
    {"Content-Length:", 15, 3999, HeadField::ContentLength},
    {"Transfer-Encoding:", 18, 3999, HeadField::TransferEncoding},
}};

constexpr std::string_view CloseToken = "close";
constexpr std::string_view OptionalWhitespace = " \t";

constexpr std::size_t MaxUrlCopy = 4999;

// A NUL byte ends a value, so none reaches a path, a log line or a
// comparison with a NUL inside.
std::string_view beforeNul(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}

// Whether a comma-separated list of connection options holds "close".
bool listsClose(std::string_view options)
{
    while (!options.empty()) {
        const std::size_t comma = options.find(',');
        if (equalsIgnoreCase(trimText(options.substr(0, comma), OptionalWhitespace), CloseToken))
            return true;
        if (comma == std::string_view::npos)
            break;
        options.remove_prefix(comma + 1);
    }
    return false;
}

std::string_view beforeSpace(std::string_view text)
{
    return text.substr(0, text.find(' '));
}

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

} // namespace

void applyHeadLine(HttpRequestHead& head, std::string_view line)
{
    line = beforeNul(line);
    for (const auto& rule : HeadRules) {
        if (line.size() < rule.shortest || line.size() > rule.longest)
            continue;
        if (!equalsIgnoreCase(line.substr(0, rule.prefix.size()), rule.prefix))
            continue;
        const std::string_view value = line.substr(rule.prefix.size());
        switch (rule.field) {
        case HeadField::GetUrl:
        case HeadField::HeadUrl:
            head.url = beforeSpace(value);
            head.headOnly = rule.field == HeadField::HeadUrl;
            break;
        case HeadField::Host:
            head.host = value;
            break;
        case HeadField::IfModifiedSince:
            head.ifModifiedSince = value;
            break;
        case HeadField::Referer:
            head.referer = value;
            break;
        case HeadField::Connection:
            head.closeAnnounced = head.closeAnnounced || listsClose(value);
            break;
        case HeadField::ContentLength:
            head.bodyAnnounced = head.bodyAnnounced || trimText(value, OptionalWhitespace) != "0";
            break;
        case HeadField::TransferEncoding:
            head.bodyAnnounced = true;
            break;
        }
    }
}

std::string urlToPath(std::string_view url)
{
    std::string path;
    (void)urlToPath(url, path); // the cut form, for callers that only show it
    return path;
}

bool urlToPath(std::string_view url, std::string& path)
{
    path.assign(url.substr(0, MaxUrlCopy));
    const bool trailingSlash = !path.empty() && (path.back() == '/' || path.back() == '\\');
    replaceAll(path, "%20", " ");
    const bool whole = normalizePath(path) && url.size() <= MaxUrlCopy;
    if (path.empty() || path.front() != '\\')
        path = "\\";
    toLowerAscii(path);
    if (trailingSlash)
        path += '\\';
    return whole;
}

} // namespace vantrel
