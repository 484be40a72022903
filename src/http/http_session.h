// HttpListener and HttpSession: the accept side of the web server and the
// thread of one connection. A session reads one request head, has the site
// route it, sends the header in one piece and the body in chunks of at most
// 4096 bytes, writes one log line and closes: one request per connection.
// On the HTTPS port the session first completes the TLS handshake with the
// program's certificate, then serves exactly as on the plain port.
#pragma once

#include "foundation/service_listener.h"
#include "foundation/service_log.h"
#include "foundation/service_session.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "http/http_site_config.h"

#include <memory>
#include <string>

namespace vantrel {

class TlsCertificate;

class HttpSession final : public ServiceSession {
public:
    static constexpr std::size_t LineCapacity = 4000;

    // A Tls session needs the certificate; a Plain one ignores it.
    HttpSession(std::unique_ptr<LineSocket> socket, const HttpSiteConfig& site, NumberedLog& log,
                HttpChannel channel = HttpChannel::Plain, std::shared_ptr<TlsCertificate> certificate = nullptr);
    ~HttpSession() override;

private:
    void serve() override;
    // False (the connection closed) when there is no certificate or the
    // client did not complete the handshake in time.
    bool startTls();
    // The routed answer, or on the plain port the redirect to HTTPS when
    // that is on.
    std::unique_ptr<HttpResponse> respond(const HttpRequestHead& head);
    // False when the connection ended or a stop came before the empty line.
    bool readHead(HttpRequestHead& head);
    bool sendResponse(HttpResponse& response, bool headOnly);
    void writeLogLine(const HttpResponse& response, const HttpRequestHead& head);

    const HttpSiteConfig& site_;
    NumberedLog& log_;
    const HttpChannel channel_;
    const std::shared_ptr<TlsCertificate> certificate_;
};

class HttpListener final : public ServiceListener {
public:
    HttpListener(int maximumSessions, const HttpSiteConfig& site, NumberedLog& log,
                 HttpChannel channel = HttpChannel::Plain);
    ~HttpListener() override;

    // The certificate its sessions hand to clients; set while inactive.
    void useCertificate(std::shared_ptr<TlsCertificate> certificate) { certificate_ = std::move(certificate); }

private:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

    const HttpSiteConfig& site_;
    NumberedLog& log_;
    const HttpChannel channel_;
    std::shared_ptr<TlsCertificate> certificate_;
};

// The log text of one answered request, or "" for the kinds that leave no
// line (images and the log area).
std::string requestLogText(ResponseKind kind, const HttpRequestHead& head);

} // namespace vantrel
