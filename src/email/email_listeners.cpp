// The session factories of the two email listeners.
#include "email/email_listeners.h"

#include "email/pop3_replies.h"
#include "email/pop3_session.h"
#include "email/smtp_replies.h"
#include "email/smtp_session.h"

#include <string>

namespace vantrel {

namespace {

// A client of an implicit port expects a TLS handshake, not a line in
// clear: over its cap it is only closed.
MailTlsSetup setupFor(bool implicitTls)
{
    MailTlsSetup setup;
    setup.implicit = implicitTls;
    return setup;
}

} // namespace

SmtpListener::SmtpListener(int maximumSessions, std::uint32_t idleLimitMs, const CourierPost& post, bool implicitTls)
    : ServiceListener(maximumSessions, idleLimitMs), post_(post), tls_(setupFor(implicitTls))
{
    if (!implicitTls)
        refuseOverCapWith(std::string(smtp::TooManyFromAddress) + "\r\n");
}

void SmtpListener::useTls(const MailTlsSettings& settings, TlsCertificate* certificate)
{
    post_.relayTls = relayTlsOf(settings);
    tls_.settings = settings;
    tls_.certificate = certificate;
}

SmtpListener::~SmtpListener()
{
    // The sessions use the directory and the log; they end before this object goes.
    deactivate();
}

std::unique_ptr<ServiceSession> SmtpListener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<SmtpSession>(std::move(socket), post_, tls_);
}

Pop3Listener::Pop3Listener(int maximumSessions, std::uint32_t idleLimitMs, MailDirectory& directory, ServiceLog& log,
                           LoginThrottle& throttle, bool implicitTls)
    : ServiceListener(maximumSessions, idleLimitMs), directory_(directory), log_(log), throttle_(throttle),
      tls_(setupFor(implicitTls))
{
    if (!implicitTls)
        refuseOverCapWith(std::string(pop3::TooManyFromAddress) + "\r\n");
}

void Pop3Listener::useTls(const MailTlsSettings& settings, TlsCertificate* certificate)
{
    tls_.settings = settings;
    tls_.certificate = certificate;
}

Pop3Listener::~Pop3Listener()
{
    deactivate();
}

std::unique_ptr<ServiceSession> Pop3Listener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<Pop3Session>(std::move(socket), directory_, log_, throttle_, tls_);
}

} // namespace vantrel
