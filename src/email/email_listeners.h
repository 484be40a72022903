// The accept threads of the email server: every connection on the SMTP
// port becomes an SmtpSession, every one on the POP3 port a Pop3Session,
// each given the mail directory and its protocol's log (POP3 sessions also
// the failed-login throttle) and the mail TLS setup. A client address over
// its connection cap gets its protocol's refusal instead. The implicit TLS
// ports have listeners of their own whose connections shake hands before
// the greeting.
#pragma once

#include "email/mail_courier.h"
#include "email/mail_tls_settings.h"
#include "foundation/service_listener.h"

namespace vantrel {

class LoginThrottle;
class MailDirectory;
class ServiceLog;

class SmtpListener final : public ServiceListener {
public:
    // Every session queues and delivers its mail through `post`.
    SmtpListener(int maximumSessions, std::uint32_t idleLimitMs, const CourierPost& post, bool implicitTls = false);
    ~SmtpListener() override;

    // The TLS settings of the sessions to come; called while inactive,
    // before activate(), so the accept thread never sees it change.
    void useTls(const MailTlsSettings& settings, TlsCertificate* certificate);

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    CourierPost post_;
    MailTlsSetup tls_;
};

class Pop3Listener final : public ServiceListener {
public:
    Pop3Listener(int maximumSessions, std::uint32_t idleLimitMs, MailDirectory& directory, ServiceLog& log,
                 LoginThrottle& throttle, bool implicitTls = false);
    ~Pop3Listener() override;

    // As SmtpListener::useTls.
    void useTls(const MailTlsSettings& settings, TlsCertificate* certificate);

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override;

private:
    MailDirectory& directory_;
    ServiceLog& log_;
    LoginThrottle& throttle_;
    MailTlsSetup tls_;
};

} // namespace vantrel
