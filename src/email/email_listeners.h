// The accept threads of the email server: every connection on the SMTP
// port becomes an SmtpSession, every one on the POP3 port a Pop3Session,
// each given the mail directory and its protocol's log (POP3 sessions also
// the failed-login throttle). A client address over its connection cap
// gets its protocol's refusal instead.
#pragma once

#include "email/mail_courier.h"
#include "foundation/service_listener.h"

namespace vantrel {

class LoginThrottle;
class MailDirectory;
class ServiceLog;

class SmtpListener final : public ServiceListener {
public:
    // Every session queues and delivers its mail through `post`.
    SmtpListener(int maximumSessions, std::uint32_t idleLimitMs, const CourierPost& post);
    ~SmtpListener() override;

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    CourierPost post_;
};

class Pop3Listener final : public ServiceListener {
public:
    Pop3Listener(int maximumSessions, std::uint32_t idleLimitMs, MailDirectory& directory, ServiceLog& log,
                 LoginThrottle& throttle);
    ~Pop3Listener() override;

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    MailDirectory& directory_;
    ServiceLog& log_;
    LoginThrottle& throttle_;
};

} // namespace vantrel
