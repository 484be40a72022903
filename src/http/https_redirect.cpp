// The Location of the plain port's redirect to HTTPS.
#include "http/https_redirect.h"

#include <cstddef>

namespace vantrel {

namespace {

constexpr std::string_view SecureScheme = "https://";
constexpr std::uint16_t StandardHttpsPort = 443;
constexpr std::size_t MaxHostName = 253;
constexpr std::size_t MaxLabel = 63;
constexpr char HexDigits[] = "0123456789ABCDEF";

bool isHostByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool isValidLabel(std::string_view label)
{
    if (label.empty() || label.size() > MaxLabel || label.front() == '-' || label.back() == '-')
        return false;
    for (const char c : label) {
        if (!isHostByte(c))
            return false;
    }
    return true;
}

// The Host value without a ":digits" port.
std::string_view withoutPort(std::string_view host)
{
    const std::size_t colon = host.rfind(':');
    if (colon == std::string_view::npos)
        return host;
    for (const char c : host.substr(colon + 1)) {
        if (c < '0' || c > '9')
            return host;
    }
    return host.substr(0, colon);
}

void appendPath(std::string& out, std::string_view url)
{
    if (url.empty() || url.front() != '/') {
        out += '/';
        return;
    }
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += HexDigits[byte >> 4];
            out += HexDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

} // namespace

bool isValidHostName(std::string_view name)
{
    if (name.empty() || name.size() > MaxHostName)
        return false;
    for (std::size_t start = 0;;) {
        const std::size_t dot = name.find('.', start);
        if (!isValidLabel(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        start = dot + 1;
    }
}

std::string httpsLocation(std::string_view host, std::string_view url, std::uint16_t httpsPort,
                          std::string_view serverAddress)
{
    const std::string_view name = withoutPort(host);
    std::string out(SecureScheme);
    out += isValidHostName(name) ? name : serverAddress;
    if (httpsPort != StandardHttpsPort) {
        out += ':';
        out += std::to_string(httpsPort);
    }
    appendPath(out, url);
    return out;
}

} // namespace vantrel
