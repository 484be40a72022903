// The FTP listener's session factory.
#include "ftp/ftp_listener.h"

#include "ftp/ftp_session.h"

namespace vantrel {

FtpListener::FtpListener(int maximumSessions, std::uint32_t idleLimitMs, const FtpAccountTable& accounts,
                         ServiceLog& log)
    : ServiceListener(maximumSessions, idleLimitMs), accounts_(accounts), log_(log)
{
}

FtpListener::~FtpListener()
{
    // The sessions use the accounts and log; they end before this object goes.
    deactivate();
}

std::unique_ptr<ServiceSession> FtpListener::createSession(std::unique_ptr<LineSocket> socket)
{
    return std::make_unique<FtpSession>(std::move(socket), accounts_, log_);
}

} // namespace vantrel
