// One HTTP connection: read the head, route, send, log, close (after the
// client has had the whole response).
#include "http/http_session.h"

#include "foundation/text.h"
#include "foundation/tls_certificate.h"
#include "http/http_status_pages.h"
#include "http/https_redirect.h"

#include <cstring>

namespace vantrel {

namespace {

constexpr char BadRequestMarker[] = "***BAD_REQUEST*** ";
constexpr char NotFoundMarker[] = "***NOT_FOUND*** ";
constexpr char RedirectMarker[] = "***REDIRECT*** ";
constexpr char FolderListMarker[] = "***FOLDER_LIST*** ";
constexpr char ForbiddenMarker[] = "***FORBIDDEN*** ";
constexpr char HandshakeFailedText[] = "***TLS HANDSHAKE FAILED***";
// Every HTTPS connection of the program may resume the sessions of the
// others: a browser opens several.
constexpr char HttpsScopeName[] = "https";
constexpr char LogArrow[] = " -> ";
constexpr char LogLineFormat[] = "%s -> %s";
constexpr std::size_t MaxLogText = 3999;
constexpr std::size_t MaxLogLine = 4100;
// Room for a response header on the stack; headers are at most 4000 bytes.
constexpr std::size_t GatheredHeaderSize = 4096;

const char* markerOf(ResponseKind kind)
{
    switch (kind) {
    case ResponseKind::BadRequest:
        return BadRequestMarker;
    case ResponseKind::NotFound:
        return NotFoundMarker;
    case ResponseKind::Redirect:
        return RedirectMarker;
    case ResponseKind::FolderList:
        return FolderListMarker;
    case ResponseKind::Forbidden:
        return ForbiddenMarker;
    default:
        return "";
    }
}

} // namespace

std::string requestLogText(ResponseKind kind, const HttpRequestHead& head)
{
    if (kind == ResponseKind::ImageFile || kind == ResponseKind::AdminArea)
        return {};
    std::string text = markerOf(kind);
    text += head.host;
    text += head.url;
    text += LogArrow;
    text += head.referer;
    text.resize(std::min(text.size(), MaxLogText));
    return text;
}

HttpSession::HttpSession(std::unique_ptr<LineSocket> socket, const HttpSiteConfig& site, NumberedLog& log,
                         HttpChannel channel, std::shared_ptr<TlsCertificate> certificate)
    : ServiceSession(std::move(socket)), site_(site), log_(log), channel_(channel), certificate_(std::move(certificate))
{
    startSession();
}

HttpSession::~HttpSession()
{
    stopSession();
}

bool HttpSession::readHead(HttpRequestHead& head)
{
    char line[LineCapacity];
    for (;;) {
        if (nextLine(line, sizeof line) != NextLine::Line)
            return false;
        noteActivity();
        const std::size_t length = std::strlen(line);
        if (length == 0)
            return true;
        applyHeadLine(head, std::string_view(line, length));
    }
}

bool HttpSession::sendResponse(HttpResponse& response, bool headOnly)
{
    LineSocket& socket = control();
    constexpr std::size_t Piece = HttpResponse::BodyChunk;
    // The header leaves in one send, together with the first piece of the
    // body: a small page is then a single send. The two are gathered on
    // the stack, unless the header is longer than any this server makes.
    const std::string& header = response.header();
    char gathered[GatheredHeaderSize + Piece];
    std::string longer;
    char* first = gathered;
    if (header.size() > GatheredHeaderSize) {
        longer.resize(header.size() + Piece);
        first = longer.data();
    }
    std::memcpy(first, header.data(), header.size());
    std::size_t count = headOnly ? 0 : response.nextBodyChunk(first + header.size(), Piece, 0);
    // A body longer than one piece goes out with partial segments held
    // back, so that it leaves in full-sized segments rather than one per
    // piece; closing the connection sends whatever is still held.
    if (count == Piece)
        socket.coalesceSends(true);
    if (!sendBuffer(socket, first, header.size() + count))
        return false;
    if (headOnly)
        return true;
    // The rest of a file goes from the file to the socket by the system.
    if (count == Piece && response.bodyFile() >= 0)
        return sendFileRange(socket, response.bodyFile(), count, response.bodyFileLeft());
    char chunk[Piece];
    for (std::uint64_t offset = count; count != 0; offset += count) {
        count = response.nextBodyChunk(chunk, sizeof chunk, offset);
        if (count != 0 && !sendBuffer(socket, chunk, count))
            return false;
    }
    return true;
}

void HttpSession::writeLogLine(const HttpResponse& response, const HttpRequestHead& head)
{
    const std::string text = requestLogText(response.kind(), head);
    if (text.empty())
        return;
    log_.appendLine(formatText(MaxLogLine, LogLineFormat, control().peerAddress(), text.c_str()));
}

bool HttpSession::startTls()
{
    std::shared_ptr<const TlsContext> context = certificate_ ? certificate_->current() : nullptr;
    if (!context) {
        control().close();
        return false;
    }
    // The address goes with the socket when a failed handshake closes it.
    char peer[TcpSocket::AddressTextSize];
    std::memcpy(peer, control().peerAddress(), sizeof peer);
    if (handshakeTls(control(), std::move(context), TlsScope::named(HttpsScopeName)))
        return true;
    log_.appendLine(formatText(MaxLogLine, LogLineFormat, peer, HandshakeFailedText));
    return false;
}

std::unique_ptr<HttpResponse> HttpSession::respond(const HttpRequestHead& head)
{
    if (channel_ == HttpChannel::Plain) {
        if (const std::uint16_t httpsPort = site_.httpsRedirectPort(); httpsPort != 0) {
            auto response = std::make_unique<HttpResponse>();
            response->prepareRedirect(httpsLocation(head.host, head.url, httpsPort, control().localAddress()));
            return response;
        }
    }
    return site_.route(head.url, head.host, head.ifModifiedSince, channel_);
}

void HttpSession::serve()
{
    if (channel_ == HttpChannel::Tls && !startTls())
        return;
    HttpRequestHead head;
    if (!readHead(head))
        return;
    noteActivity();
    std::unique_ptr<HttpResponse> response = respond(head);
    if (!sendResponse(*response, head.headOnly))
        return;
    writeLogLine(*response, head);
    // A client that said this request is its last, without a body, has
    // nothing more to send: unless something came all the same, the
    // connection closes at once (no input is left unread, so the close
    // ends the stream normally). Otherwise the client may have sent more
    // than the head (a body, a second request), and closing over it
    // unread would cut the response short.
    LineSocket& socket = control();
    if (head.saysNothingMore() && socket.bufferInput() && !socket.hasBufferedBytes()) {
        socket.close();
        return;
    }
    lingeringClose(socket);
}

HttpListener::HttpListener(int maximumSessions, const HttpSiteConfig& site, NumberedLog& log, HttpChannel channel)
    : ServiceListener(maximumSessions), site_(site), log_(log), channel_(channel)
{
    // A TLS client opens with its hello, so it too speaks first.
    acceptWhenClientSpeaks();
    // The 503 is plain text, which a TLS client cannot read: over its cap
    // it is only closed.
    if (channel == HttpChannel::Plain)
        refuseOverCapWith(overCapResponse());
}

HttpListener::~HttpListener()
{
    deactivate();
}

std::unique_ptr<ServiceSession> HttpListener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<HttpSession>(std::move(socket), site_, log_, channel_, certificate_);
}

} // namespace vantrel
