// HttpResponse: the prepared answer to one request - the exact header
// bytes and either a generated page or an open file whose contents form the
// body. The router prepares it under the site lock; the session then sends
// the header in one piece and pulls the body in bounded chunks, outside
// the lock.
#pragma once

#include "foundation/file_handle.h"
#include "foundation/root_folder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// The numbers are part of the system (they decide the log marker).
enum class ResponseKind : std::int32_t {
    NoFile = 0,
    TextFile = 1,
    HtmlFile = 2,
    OtherFile = 3,
    ImageFile = 4,
    BadRequest = 5,
    NotFound = 6,
    AdminArea = 7,
    Redirect = 8,
    FolderList = 9,
    // The log area asked for over plain HTTP while it requires TLS.
    Forbidden = 10,
};

class HttpResponse final {
public:
    static constexpr std::size_t BodyChunk = 4096;
    static constexpr std::size_t MaxLocationLength = 3500;
    static constexpr char NotFoundPageFile[] = "http\\404notfound.html";
    static constexpr char BadRequestPageFile[] = "http\\400badrequest.html";

    HttpResponse() = default;
    HttpResponse(const HttpResponse&) = delete;
    HttpResponse& operator=(const HttpResponse&) = delete;

    // Closes the file and empties header and body; kind and admin stay.
    void resetResponse();
    // Opens an existing file for the body and writes the file header with
    // the given status. False (kind NoFile) when it cannot be opened.
    [[nodiscard]] bool prepareFile(std::string_view path, int status);
    // The same for a file that a request names below its site's root.
    [[nodiscard]] bool prepareFile(const RootFolder& root, std::string_view relative, int status);
    // The file's last-write time in HTTP form; false while a generated body
    // is set or no file is open.
    bool lastModifiedText(std::string& text) const;
    void prepareNotFound();
    void prepareBadRequest();
    void prepareNotModified();
    // 403 with the built-in page and its length.
    void prepareForbidden();
    // A location longer than 3500 characters gives a 404 instead.
    void prepareRedirect(std::string_view location);
    // The listing of a folder below the root; false when the folder does
    // not exist there or url is longer than 260.
    [[nodiscard]] bool prepareFolderList(const RootFolder& root, std::string_view folder, std::string_view url);

    void setAdmin(bool admin) { admin_ = admin; }
    void setKind(ResponseKind kind) { kind_ = kind; }
    ResponseKind kind() const { return kind_; }

    const std::string& header() const { return header_; }
    // A generated body: up to `maximum` bytes from `offset`. A file body: the
    // next bytes of the file (offset plays no part), never more in all than
    // the length the header announced. 0 at the end.
    std::size_t nextBodyChunk(char* buffer, std::size_t maximum, std::uint64_t offset);
    // A file body's open file, or -1 for a generated body; and how many of
    // the announced bytes nextBodyChunk has not given yet.
    int bodyFile() const { return body_.empty() && file_.isOpen() ? file_.descriptor() : -1; }
    std::uint64_t bodyFileLeft() const { return fileLeft_; }

private:
    // The header of the file just opened; `path` chooses its content type.
    void prepareOpenedFile(std::string_view path, int status);
    void prepareErrorPage(const char* file, int status, ResponseKind kind, std::string_view shortHeader,
                          std::string body);

    std::string header_;
    std::string body_;
    FileHandle file_;
    std::uint64_t fileLeft_ = 0; // bytes of the file body not yet read
    ResponseKind kind_ = ResponseKind::NoFile;
    bool admin_ = false;
};

} // namespace vantrel
