// FtpListener: the accept thread of the FTP control port; every accepted
// connection becomes an FtpSession with the service's accounts and log.
#pragma once

#include "foundation/service_listener.h"

namespace vantrel {

class FtpAccountTable;
class ServiceLog;

class FtpListener final : public ServiceListener {
public:
    FtpListener(int maximumSessions, std::uint32_t idleLimitMs, const FtpAccountTable& accounts, ServiceLog& log);
    ~FtpListener() override;

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    const FtpAccountTable& accounts_;
    ServiceLog& log_;
};

} // namespace vantrel
