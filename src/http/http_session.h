// HttpListener and HttpSession: the accept side of the web server and the
// thread of one connection. A session reads one request head, has the site
// route it, sends the header in one piece and the body in chunks of at most
// 4096 bytes, writes one log line and closes: one request per connection.
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

class HttpSession final : public ServiceSession {
public:
    static constexpr std::size_t LineCapacity = 4000;

    HttpSession(std::unique_ptr<LineSocket> socket, const HttpSiteConfig& site, NumberedLog& log);
    ~HttpSession() override;

private:
    void serve() override;
    // False when the connection ended or a stop came before the empty line.
    bool readHead(HttpRequestHead& head);
    bool sendResponse(HttpResponse& response, bool headOnly);
    void writeLogLine(const HttpResponse& response, const HttpRequestHead& head);

    const HttpSiteConfig& site_;
    NumberedLog& log_;
};

class HttpListener final : public ServiceListener {
public:
    HttpListener(int maximumSessions, const HttpSiteConfig& site, NumberedLog& log);
    ~HttpListener() override;

private:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

    const HttpSiteConfig& site_;
    NumberedLog& log_;
};

// The log text of one answered request, or "" for the kinds that leave no
// line (images and the log area).
std::string requestLogText(ResponseKind kind, const HttpRequestHead& head);

} // namespace vantrel
