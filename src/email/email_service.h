// EmailService: the email server as the main window sees it. It owns the
// mail directory, the SMTP and POP3 listeners (and those of the implicit
// TLS ports), their numbered logs, the POP3 failed-login throttle, the
// settings of "email.dat" (mail TLS among them) and the per-address limits
// of "emailguard.dat", and activates and deactivates the listeners
// together.
#pragma once

#include "email/email_listeners.h"
#include "email/email_settings_panel.h"
#include "email/mail_directory.h"
#include "email/mail_queue.h"
#include "email/queue_runner.h"
#include "email/tracked_file.h"
#include "foundation/login_throttle.h"
#include "foundation/service_control.h"
#include "foundation/service_log.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {

class TlsCertificate;

class EmailService final : public ServiceControl, public EmailPanelTarget {
public:
    static constexpr int SessionLimit = 1000;
    static constexpr int AccountCapacity = 1000;
    static constexpr std::uint16_t SmtpPort = 25;
    static constexpr std::uint16_t DefaultPopPort = 110;
    // The relay host is reached on the SMTP port.
    static constexpr std::uint16_t RelayPort = 25;
    // A copy that failed (a full disk) is tried again after this long.
    static constexpr std::uint32_t CopyRetryMs = 60000;
    static constexpr char SettingsFile[] = "email.dat";
    // A busy SMTP session: its socket, its stop event, the queued message,
    // and the envelope and the folder while it commits (or a mailbox's
    // index and a copy while it delivers).
    static constexpr int SmtpDescriptorsPerSession = 5;
    // A busy POP3 session: its socket, its stop event, the mailbox's index
    // and the message it sends.
    static constexpr int Pop3DescriptorsPerSession = 4;
    // Each listener's socket, stop event and wake (the implicit TLS ports'
    // too), and the queue runner with the session it relays through and
    // the files it delivers.
    static constexpr int DescriptorsBesideSessions = 4 * 3 + 1 + SmtpDescriptorsPerSession;
    // The connection caps per client address of both ports and the POP3
    // failed-login limit, kept in a file of their own; without it the caps
    // are 0 (none) and the limit LoginThrottle::DefaultLimit.
    static constexpr char GuardFile[] = "emailguard.dat";

    // The program uses port 25, the idle limit of the sessions, the relay
    // host's port 25 and a minute between tries of a failed copy; tests
    // pass port 0 (the system picks one), shorter limits and the port of a
    // relay host they play themselves.
    explicit EmailService(std::uint16_t smtpPort = SmtpPort, std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs,
                          std::uint16_t relayPort = RelayPort, std::uint32_t copyRetryMs = CopyRetryMs);
    // Stops the listeners and the runner; saves nothing.
    ~EmailService() override;
    EmailService(const EmailService&) = delete;
    EmailService& operator=(const EmailService&) = delete;

    [[nodiscard]] bool loadSettings() override;
    // The POP3 port "email.dat" names, read without loading anything else
    // (for the other services' settings of a stopped server).
    static std::uint16_t storedPopPort();
    [[nodiscard]] bool saveSettings() override;
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) override { autostart_ = on; }
    bool isActive() const override { return smtpListener_.isActive(); }
    // Fails without an account, when the "email", "logs" or "mailqueue"
    // folder cannot be written (said on standard error), with mail TLS on
    // when the certificate cannot be loaded (said too), or when any port
    // cannot be bound (every listener is then inactive). Before the
    // listeners start, message files that no index names are taken into
    // their mailboxes and the queue left by the last run is taken up; its
    // mail is delivered first, by the queue runner.
    [[nodiscard]] bool activate() override;
    void deactivate() override;
    int connectionCount() const override;
    std::uint64_t totalBytesIn() const override;
    std::uint64_t totalBytesOut() const override;
    void tick() override;
    int descriptorsAtFullLoad() const override
    {
        return SessionLimit * (SmtpDescriptorsPerSession + Pop3DescriptorsPerSession) + DescriptorsBesideSessions;
    }

    // The SMTP port it listens on when active (fixed at construction).
    std::uint16_t smtpPort() const override { return smtpPort_; }
    // POP3's port; takes effect at the next activation.
    std::uint16_t popPort() const { return popPort_; }
    void setPopPort(std::uint16_t port) { popPort_ = port; }
    std::uint16_t port() const override { return popPort(); }
    void setPort(std::uint16_t port) override { setPopPort(port); }
    // The ports it is set to listen on: as configured, and as a stopped
    // server's files say.
    ServicePorts portsInUse() const;
    static ServicePorts storedPorts();
    // The ports actually bound while active.
    std::uint16_t smtpListeningPort() const { return smtpListener_.listeningPort(); }
    std::uint16_t popListeningPort() const { return popListener_.listeningPort(); }
    // The implicit TLS ports actually bound while active (0: none).
    std::uint16_t smtpsListeningPort() const { return smtpsListener_.isActive() ? smtpsListener_.listeningPort() : 0; }
    std::uint16_t pop3sListeningPort() const { return pop3sListener_.isActive() ? pop3sListener_.listeningPort() : 0; }

    // Live connections one client address may hold on each port (0: no
    // cap), from the next connection on.
    int smtpPerAddressCap() const override { return smtpListener_.perAddressCap(); }
    void setSmtpPerAddressCap(int cap) override;
    int popPerAddressCap() const override { return popListener_.perAddressCap(); }
    void setPopPerAddressCap(int cap) override;
    // Failed POP3 logins from one address within a minute before its
    // logins are refused for a minute (0: never), from the next login on.
    int popFailedLoginLimit() const override { return popThrottle_.limit(); }
    void setPopFailedLoginLimit(int limit) override { popThrottle_.setLimit(limit); }

    MailDirectory& directory() override { return directory_; }
    MailQueue& queue() { return queue_; }
    ServiceLog& smtpLog() { return smtpLog_.log(); }
    ServiceLog& popLog() { return popLog_.log(); }
    std::int32_t smtpLogNumber() const { return smtpLog_.number(); }
    std::int32_t popLogNumber() const { return popLog_.number(); }

    // The program's certificate, for the connections that speak TLS. Until
    // one is given, the service has one of its own: the self-signed pair
    // in "tls" of the data folder.
    void useCertificate(std::shared_ptr<TlsCertificate> certificate) { certificate_ = std::move(certificate); }
    // Mail TLS: off unless set; like the POP3 port, used from the next
    // activation on.
    MailTlsSettings tlsSettings() const override { return tls_; }
    void setTlsSettings(const MailTlsSettings& settings) override { tls_ = settings; }
    bool certificateLoads(std::string& whyNot) override;

private:
    // Sessions use the directory, the logs and the queue, so the listeners
    // and the runner come last and are destroyed first.
    MailDirectory directory_;
    NumberedLog smtpLog_;
    NumberedLog popLog_;
    MailQueue queue_;
    LoginThrottle popThrottle_;
    std::shared_ptr<TlsCertificate> certificate_;
    MailTlsSettings tls_;
    std::uint16_t smtpPort_;
    std::uint16_t popPort_ = DefaultPopPort;
    bool autostart_ = false;
    TrackedFile settingsFile_; // "email.dat"
    TrackedFile guardFile_;    // "emailguard.dat"
    SmtpListener smtpListener_;
    Pop3Listener popListener_;
    SmtpListener smtpsListener_;
    Pop3Listener pop3sListener_;
    QueueRunner runner_;
};

} // namespace vantrel
