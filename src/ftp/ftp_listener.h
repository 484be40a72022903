// FtpListener: the accept thread of the FTP control port; every accepted
// connection becomes an FtpSession with the service's accounts, log and
// failed-login throttle.
#pragma once

#include "foundation/service_listener.h"

namespace vantrel {

class FtpAccountTable;
class LoginThrottle;
class ServiceLog;

class FtpListener final : public ServiceListener {
public:
    FtpListener(int maximumSessions, std::uint32_t idleLimitMs, const FtpAccountTable& accounts, ServiceLog& log,
                LoginThrottle& throttle);
    ~FtpListener() override;

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    const FtpAccountTable& accounts_;
    ServiceLog& log_;
    LoginThrottle& throttle_;
};

} // namespace vantrel
