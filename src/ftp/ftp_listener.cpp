// The FTP listener's session factory.
#include "ftp/ftp_listener.h"

#include "ftp/ftp_replies.h"
#include "ftp/ftp_session.h"

#include <string>

namespace vantrel {

FtpListener::FtpListener(int maximumSessions, std::uint32_t idleLimitMs, const FtpAccountTable& accounts,
                         ServiceLog& log, LoginThrottle& throttle, FtpTlsStart start)
    : ServiceListener(maximumSessions, idleLimitMs), accounts_(accounts), log_(log), throttle_(throttle)
{
    tls_.start = start;
    // A client of the implicit port expects a TLS handshake, not a line in
    // clear: over its cap it is only closed.
    if (start == FtpTlsStart::Explicit)
        refuseOverCapWith(std::string(TooManyFromAddress) + "\r\n");
}

FtpListener::~FtpListener()
{
    // The sessions use the accounts and log; they end before this object goes.
    deactivate();
}

void FtpListener::useTls(const FtpTlsSettings& settings, TlsCertificate* certificate)
{
    tls_.settings = settings;
    tls_.certificate = certificate;
}

std::unique_ptr<ServiceSession> FtpListener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<FtpSession>(std::move(socket), accounts_, log_, throttle_, tls_);
}

} // namespace vantrel
