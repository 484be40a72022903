// Built-in status pages and the replaceable error page files.
#include "http/http_status_pages.h"

#include "foundation/file_replace.h"
#include "foundation/file_system.h"
#include "foundation/product.h"
#include "foundation/text.h"
#include "http/http_response.h"

namespace vantrel {

namespace {

constexpr char NotFoundText[] =
    "<HTML><HEAD><TITLE>Not Found</TITLE></HEAD><BODY><p>Error 404<br>Sorry, the file was not "
    "found.</p><p>_____________________________________<br>%s by %s<br>Visit: <a "
    "href=\"%s\">%s</a></p><!-";
constexpr char BadRequestText[] = "<HTML><HEAD><TITLE>Bad Request</TITLE></HEAD><BODY><p>Error 400<br>Sorry, Bad "
                                  "Request.</p><p>_____________________________________<br>%s by %s<br>Visit: <a "
                                  "href=\"%s\">%s</a></p><!-";
constexpr char NotModifiedText[] = "<HTML><HEAD><TITLE>Not Modified</TITLE></HEAD><BODY><p>304<br>The page as not been "
                                   "modified.</p><p>_____________________________________<br>%s by %s<br>Visit: <a "
                                   "href=\"%s\">%s</a></p><!-";
constexpr char MovedText[] = "<HTML><HEAD><TITLE>Moved Permanently</TITLE></HEAD><BODY><p>301<br>This page has been "
                             "moved permanently.</p><p>_____________________________________<br>%s by %s<br>Visit: <a "
                             "href=\"%s\">%s</a></p><!-";
constexpr char ForbiddenText[] = "<HTML><HEAD><TITLE>Forbidden</TITLE></HEAD><BODY><p>Error 403<br>Sorry, this "
                                 "page is only served over HTTPS.</p><p>_____________________________________<br>%s "
                                 "by %s<br>Visit: <a href=\"%s\">%s</a></p><!-";
// Every page is padded with this many stars inside its closing comment.
constexpr std::size_t PaddingStars = 567;
constexpr char PageTail[] = "-!></BODY></HTML>";
constexpr std::size_t MaxPageLength = 2048;
constexpr char OverCapHeader[] = "HTTP/1.1 503 Service Unavailable\r\nServer: %s by %s\r\nContent-Type: text/html\r\n"
                                 "Content-Length: %zu\r\nRetry-After: 60\r\nConnection: close\r\n\r\n";
constexpr char OverCapPage[] =
    "<HTML><HEAD><TITLE>Service Unavailable</TITLE></HEAD><BODY><p>Error 503<br>Sorry, too many "
    "connections from your address. Please try again later.</p></BODY></HTML>";

const char* pageText(StatusPage page)
{
    switch (page) {
    case StatusPage::NotFound:
        return NotFoundText;
    case StatusPage::BadRequest:
        return BadRequestText;
    case StatusPage::NotModified:
        return NotModifiedText;
    case StatusPage::MovedPermanently:
        return MovedText;
    case StatusPage::Forbidden:
        return ForbiddenText;
    }
    return NotFoundText;
}

void writePageIfMissing(const char* path, StatusPage page)
{
    if (pathExists(path))
        return;
    // Written whole or not at all, and never over a page that appeared in
    // the meantime. A page that could not be written is served from memory.
    (void)writeWholeFile(localPath(path), builtInPage(page), IfExists::Keep);
}

} // namespace

std::string builtInPage(StatusPage page)
{
    std::string text = formatText(MaxPageLength, pageText(page), ProductName, MakerName, MakerWebPage, MakerWebPage);
    text.append(PaddingStars, '*');
    text += PageTail;
    return text;
}

std::string overCapResponse()
{
    const std::string page = OverCapPage;
    return formatText(MaxPageLength, OverCapHeader, ProductName, MakerName, page.size()) + page;
}

void ensureErrorPages()
{
    writePageIfMissing(HttpResponse::NotFoundPageFile, StatusPage::NotFound);
    writePageIfMissing(HttpResponse::BadRequestPageFile, StatusPage::BadRequest);
}

} // namespace vantrel
