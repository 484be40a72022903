// The FTP listener's session factory.
#include "ftp/ftp_listener.h"

#include "ftp/ftp_replies.h"
#include "ftp/ftp_session.h"

#include <string>

namespace vantrel {

FtpListener::FtpListener(int maximumSessions, std::uint32_t idleLimitMs, const FtpAccountTable& accounts,
                         ServiceLog& log, LoginThrottle& throttle)
    : ServiceListener(maximumSessions, idleLimitMs), accounts_(accounts), log_(log), throttle_(throttle)
{
    refuseOverCapWith(std::string(TooManyFromAddress) + "\r\n");
}

FtpListener::~FtpListener()
{
    // The sessions use the accounts and log; they end before this object goes.
    deactivate();
}

std::unique_ptr<ServiceSession> FtpListener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<FtpSession>(std::move(socket), accounts_, log_, throttle_);
}

} // namespace vantrel
