// Where the plain HTTP port sends a client when HTTPS is preferred: the
// same path and query on the HTTPS port. Pure: request values in, the
// Location text out. Nothing the client sent reaches the header unchecked:
// the Host is used only when it is a valid host name, and the path's
// control bytes, spaces and bytes beyond ASCII are percent-encoded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// "https://" HOST [":" PORT] PATH, without ":443". HOST is the request's
// Host value without its port when that is a valid host name (or a dotted
// IPv4 address), otherwise serverAddress; PATH is the request target when
// it begins with "/", otherwise "/".
std::string httpsLocation(std::string_view host, std::string_view url, std::uint16_t httpsPort,
                          std::string_view serverAddress);

// Letters, digits and hyphens in dot-separated labels of 1 to 63 characters
// (no hyphen at either end), 253 characters at most.
bool isValidHostName(std::string_view name);

} // namespace vantrel
