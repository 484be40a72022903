// The fixed table that maps a file's extension to the Content-Type sent
// with it and to the kind of response it makes. Everything the table does
// not name goes out as "application/zip".
#pragma once

#include "http/http_response.h"

#include <string_view>

namespace vantrel {

struct ContentType {
    std::string_view mime;
    ResponseKind kind;
};

// The extension is the text after the last "." anywhere in the path, used
// only when it has 1 to 9 characters; it is compared in lower case.
ContentType contentTypeFor(std::string_view path);

} // namespace vantrel
