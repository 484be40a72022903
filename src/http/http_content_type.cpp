// Content types by extension.
#include "http/http_content_type.h"

#include "foundation/text.h"

#include <array>

namespace vantrel {

namespace {

struct ExtensionType {
    std::string_view extension;
    ContentType type;
};

constexpr std::array<ExtensionType, 6> ExtensionTypes{{
    {"jpg", {"image/jpeg", ResponseKind::ImageFile}},
    {"gif", {"image/gif", ResponseKind::ImageFile}},
    {"txt", {"text/plain", ResponseKind::TextFile}},
    {"htm", {"text/html", ResponseKind::HtmlFile}},
    {"html", {"text/html", ResponseKind::HtmlFile}},
    {"asp", {"text/html", ResponseKind::HtmlFile}},
}};

constexpr ContentType OtherType{"application/zip", ResponseKind::OtherFile};
constexpr std::size_t LongestExtension = 9;

} // namespace

ContentType contentTypeFor(std::string_view path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return OtherType;
    const std::string_view extension = path.substr(dot + 1);
    if (extension.empty() || extension.size() > LongestExtension)
        return OtherType;
    const std::string lower = lowerAscii(extension);
    for (const auto& entry : ExtensionTypes) {
        if (entry.extension == lower)
            return entry.type;
    }
    return OtherType;
}

} // namespace vantrel
