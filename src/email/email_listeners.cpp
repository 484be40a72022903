// The session factories of the two email listeners.
#include "email/email_listeners.h"

#include "email/pop3_replies.h"
#include "email/pop3_session.h"
#include "email/smtp_replies.h"
#include "email/smtp_session.h"

#include <string>

namespace vantrel {

SmtpListener::SmtpListener(int maximumSessions, std::uint32_t idleLimitMs, const CourierPost& post)
    : ServiceListener(maximumSessions, idleLimitMs), post_(post)
{
    refuseOverCapWith(std::string(smtp::TooManyFromAddress) + "\r\n");
}

SmtpListener::~SmtpListener()
{
    // The sessions use the directory and the log; they end before this object goes.
    deactivate();
}

std::unique_ptr<ServiceSession> SmtpListener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<SmtpSession>(std::move(socket), post_);
}

Pop3Listener::Pop3Listener(int maximumSessions, std::uint32_t idleLimitMs, MailDirectory& directory, ServiceLog& log,
                           LoginThrottle& throttle)
    : ServiceListener(maximumSessions, idleLimitMs), directory_(directory), log_(log), throttle_(throttle)
{
    refuseOverCapWith(std::string(pop3::TooManyFromAddress) + "\r\n");
}

Pop3Listener::~Pop3Listener()
{
    deactivate();
}

std::unique_ptr<ServiceSession> Pop3Listener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<Pop3Session>(std::move(socket), directory_, log_, throttle_);
}

} // namespace vantrel
