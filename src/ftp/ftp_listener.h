// FtpListener: the accept thread of an FTP control port; every accepted
// connection becomes an FtpSession with the service's accounts, log,
// failed-login throttle and TLS setup. The implicit TLS port has a listener
// of its own whose connections shake hands before the greeting.
#pragma once

#include "foundation/service_listener.h"
#include "ftp/ftp_tls_settings.h"

namespace vantrel {

class FtpAccountTable;
class LoginThrottle;
class ServiceLog;

class FtpListener final : public ServiceListener {
public:
    FtpListener(int maximumSessions, std::uint32_t idleLimitMs, const FtpAccountTable& accounts, ServiceLog& log,
                LoginThrottle& throttle, FtpTlsStart start = FtpTlsStart::Explicit);
    ~FtpListener() override;

    // The TLS settings of the sessions to come; called while inactive, before
    // activate(), so the accept thread never sees it change.
    void useTls(const FtpTlsSettings& settings, TlsCertificate* certificate);

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    const FtpAccountTable& accounts_;
    ServiceLog& log_;
    LoginThrottle& throttle_;
    FtpTlsSetup tls_;
};

} // namespace vantrel
