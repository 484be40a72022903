// The accept threads of the email server: every connection on the SMTP
// port becomes an SmtpSession, every one on the POP3 port a Pop3Session,
// each given the mail directory and its protocol's log.
#pragma once

#include "foundation/service_listener.h"

namespace vantrel {

class MailDirectory;
class ServiceLog;

class SmtpListener final : public ServiceListener {
public:
    // Sessions relay to the relay host on relayPort.
    SmtpListener(int maximumSessions, std::uint32_t idleLimitMs, MailDirectory& directory, ServiceLog& log,
                 std::uint16_t relayPort);
    ~SmtpListener() override;

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    MailDirectory& directory_;
    ServiceLog& log_;
    std::uint16_t relayPort_;
};

class Pop3Listener final : public ServiceListener {
public:
    Pop3Listener(int maximumSessions, std::uint32_t idleLimitMs, MailDirectory& directory, ServiceLog& log);
    ~Pop3Listener() override;

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    MailDirectory& directory_;
    ServiceLog& log_;
};

} // namespace vantrel
