// The built-in status pages (404, 400, 304, 301, 403), the two error page
// files in the "http" folder that an administrator may replace, and the
// whole 503 response for a client address over its connection cap.
#pragma once

#include <string>

namespace vantrel {

enum class StatusPage {
    NotFound,
    BadRequest,
    NotModified,
    MovedPermanently,
    Forbidden
};

// The page filled in with the product, the maker and the maker's web page.
std::string builtInPage(StatusPage page);

// Writes "http\404notfound.html" and "http\400badrequest.html" with the
// built-in pages, each only when it does not exist yet, and whole or not
// at all (a page that is missing is served from memory).
void ensureErrorPages();

// Header and page of the 503 that a connection over its address's cap
// gets instead of an answer to its request.
std::string overCapResponse();

} // namespace vantrel
