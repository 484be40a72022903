// Pop3Session: one connection on the POP3 port. Its thread greets (after
// the TLS handshake on the implicit port), checks USER and PASS, holds the
// mailbox's login lock, taken only by a login that succeeded, through a
// transaction,
// answers the mailbox commands and hands the transaction back at the end;
// marked messages are removed only after QUIT.
#pragma once

#include "email/mail_tls_settings.h"
#include "foundation/service_session.h"

#include <cstddef>
#include <memory>
#include <string_view>

namespace vantrel {

class LoginThrottle;
class MailDirectory;
class MailboxTransaction;
class ServiceLog;

class Pop3Session final : public ServiceSession {
public:
    // A refused login costs the client this long, which slows guessing.
    static constexpr int BadLoginPauseMs = 5000;
    // The local domain shown in the greeting is cut to fit this buffer.
    static constexpr std::size_t HostNameSize = 200;

    Pop3Session(std::unique_ptr<LineSocket> control, MailDirectory& directory, ServiceLog& log, LoginThrottle& throttle,
                const MailTlsSetup& tls = {});
    ~Pop3Session() override;

    // --- for the transaction commands ---
    // One reply line; CR LF is added.
    bool reply(std::string_view text);
    // Bytes as they are (listings, message text); false when the connection
    // failed or a stop was requested.
    bool sendBytes(std::string_view bytes);
    // Ends the conversation after QUIT.
    void closeConnection();
    // Mail TLS: what the listener was activated with.
    const MailTlsSetup& tls() const { return tls_; }
    ServiceLog& log() { return log_; }

protected:
    void serve() override;

private:
    bool greet();
    // The authorization phase: the locked mailbox, or null when the client
    // went away, quit or a stop came first.
    std::unique_ptr<MailboxTransaction> authorize();
    std::unique_ptr<MailboxTransaction> tryLogin(std::string_view user, std::string_view password);
    // True when QUIT ended the phase.
    bool transactionPhase(MailboxTransaction& transaction);

    MailDirectory& directory_;
    ServiceLog& log_;
    LoginThrottle& throttle_;
    MailTlsSetup tls_;
};

} // namespace vantrel
