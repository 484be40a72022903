// Preparing responses: file headers, the status pages and body chunks.
// The folder listing is built in http_folder_view.cpp.
#include "http/http_response.h"

#include "foundation/file_time.h"
#include "foundation/product.h"
#include "foundation/text.h"
#include "http/http_content_type.h"
#include "http/http_status_pages.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

constexpr char FileHeader[] = "HTTP/1.1 %d OK\r\nDate: %s\r\nServer: %s by %s\r\nLast-Modified: %s\r\n"
                              "Accept-Ranges: bytes\r\nContent-Type: %s\r\nContent-Length: %llu\r\n"
                              "Connection: close\r\n\r\n";
// The log area's files carry no dates.
constexpr char AdminFileHeader[] = "HTTP/1.1 %d OK\r\nServer: %s by %s\r\nAccept-Ranges: bytes\r\nContent-Type: %s\r\n"
                                   "Content-Length: %llu\r\nConnection: close\r\n\r\n";
constexpr char ShortNotFoundHeader[] = "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n";
constexpr char ShortBadRequestHeader[] = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
constexpr char NotModifiedHeader[] = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n";
constexpr char RedirectHeader[] = "HTTP/1.1 301 Moved Permanently\r\nLocation: %s\r\nConnection: close\r\n\r\n";
constexpr char ForbiddenHeader[] = "HTTP/1.1 403 Forbidden\r\nServer: %s by %s\r\nContent-Type: text/html\r\n"
                                   "Content-Length: %zu\r\nConnection: close\r\n\r\n";
constexpr char GmtSuffix[] = " GMT";
constexpr std::size_t MaxHeaderLength = 4000;

std::string httpDateText(FileTime time)
{
    return longDateText(time, TimeZone::Utc) + GmtSuffix;
}

} // namespace

void HttpResponse::resetResponse()
{
    file_.close();
    fileLeft_ = 0;
    header_.clear();
    body_.clear();
}

bool HttpResponse::prepareFile(std::string_view path, int status)
{
    resetResponse();
    if (!file_.open(path, FileMode::Read, IfMissing::Fail)) {
        resetResponse();
        kind_ = ResponseKind::NoFile;
        return false;
    }
    prepareOpenedFile(path, status);
    return true;
}

bool HttpResponse::prepareFile(const RootFolder& root, std::string_view relative, int status)
{
    resetResponse();
    if (!root.openFile(relative, FileMode::Read, IfMissing::Fail, file_)) {
        resetResponse();
        kind_ = ResponseKind::NoFile;
        return false;
    }
    prepareOpenedFile(relative, status);
    return true;
}

void HttpResponse::prepareOpenedFile(std::string_view path, int status)
{
    const ContentType type = contentTypeFor(path);
    kind_ = type.kind;
    const std::string mime(type.mime);
    fileLeft_ = file_.sizeAtOpen();
    const auto length = static_cast<unsigned long long>(fileLeft_);
    if (admin_) {
        header_ = formatText(MaxHeaderLength, AdminFileHeader, status, ProductName, MakerName, mime.c_str(), length);
    } else {
        std::string modified;
        (void)lastModifiedText(modified);
        header_ = formatText(MaxHeaderLength, FileHeader, status, httpDateText(timeNow()).c_str(), ProductName,
                             MakerName, modified.c_str(), mime.c_str(), length);
    }
}

bool HttpResponse::lastModifiedText(std::string& text) const
{
    if (!body_.empty() || !file_.isOpen())
        return false;
    // The time the header announced, so that a conditional request is
    // compared with what the client was told.
    text = httpDateText(file_.writeTimeAtOpen());
    return true;
}

void HttpResponse::prepareErrorPage(const char* file, int status, ResponseKind kind, std::string_view shortHeader,
                                    std::string body)
{
    resetResponse();
    if (!prepareFile(file, status)) {
        header_ = shortHeader;
        body_ = std::move(body);
    }
    kind_ = kind;
}

void HttpResponse::prepareNotFound()
{
    prepareErrorPage(NotFoundPageFile, 404, ResponseKind::NotFound, ShortNotFoundHeader,
                     builtInPage(StatusPage::NotFound));
}

void HttpResponse::prepareBadRequest()
{
    prepareErrorPage(BadRequestPageFile, 400, ResponseKind::BadRequest, ShortBadRequestHeader,
                     builtInPage(StatusPage::BadRequest));
}

void HttpResponse::prepareNotModified()
{
    resetResponse();
    header_ = NotModifiedHeader;
    body_ = builtInPage(StatusPage::NotModified);
}

void HttpResponse::prepareForbidden()
{
    resetResponse();
    body_ = builtInPage(StatusPage::Forbidden);
    header_ = formatText(MaxHeaderLength, ForbiddenHeader, ProductName, MakerName, body_.size());
    kind_ = ResponseKind::Forbidden;
}

void HttpResponse::prepareRedirect(std::string_view location)
{
    resetResponse();
    if (location.size() > MaxLocationLength) {
        prepareNotFound();
        return;
    }
    const std::string target(location);
    header_ = formatText(MaxHeaderLength, RedirectHeader, target.c_str());
    body_ = builtInPage(StatusPage::MovedPermanently);
    kind_ = ResponseKind::Redirect;
}

std::size_t HttpResponse::nextBodyChunk(char* buffer, std::size_t maximum, std::uint64_t offset)
{
    if (body_.empty()) {
        // The body ends where the announced Content-Length ends, even when
        // the file grows meanwhile; a file that shrinks ends early.
        if (!file_.isOpen() || file_.atEnd() || fileLeft_ == 0)
            return 0;
        const std::size_t count = file_.read(buffer, std::min<std::uint64_t>(maximum, fileLeft_));
        fileLeft_ -= count;
        return count;
    }
    if (offset >= body_.size())
        return 0;
    const std::size_t count = std::min<std::uint64_t>(maximum, body_.size() - offset);
    std::memcpy(buffer, body_.data() + offset, count);
    return count;
}

} // namespace vantrel
