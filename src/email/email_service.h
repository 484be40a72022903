// EmailService: the email server as the main window sees it. It owns the
// mail directory, the SMTP and POP3 listeners, their numbered logs and the
// settings of "email.dat", and activates and deactivates both listeners
// together.
#pragma once

#include "email/email_listeners.h"
#include "email/mail_directory.h"
#include "email/tracked_file.h"
#include "foundation/service_control.h"
#include "foundation/service_log.h"

#include <cstdint>

namespace vantrel {

class EmailService final : public ServiceControl {
public:
    static constexpr int SessionLimit = 1000;
    static constexpr int AccountCapacity = 1000;
    static constexpr std::uint16_t SmtpPort = 25;
    static constexpr std::uint16_t DefaultPopPort = 110;
    // The relay host is reached on the SMTP port.
    static constexpr std::uint16_t RelayPort = 25;
    static constexpr char SettingsFile[] = "email.dat";

    // The program uses port 25, the idle limit of the sessions and the
    // relay host's port 25; tests pass port 0 (the system picks one),
    // shorter limits and the port of a relay host they play themselves.
    explicit EmailService(std::uint16_t smtpPort = SmtpPort,
                          std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs,
                          std::uint16_t relayPort = RelayPort);
    ~EmailService() override;
    EmailService(const EmailService&) = delete;
    EmailService& operator=(const EmailService&) = delete;

    [[nodiscard]] bool loadSettings() override;
    [[nodiscard]] bool saveSettings() override;
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) { autostart_ = on; }
    bool isActive() const override { return smtpListener_.isActive(); }
    // Fails without an account, when the "email" or "logs" folder cannot be
    // written (said on standard error), or when either port cannot be bound
    // (both listeners are then inactive).
    [[nodiscard]] bool activate() override;
    void deactivate() override;
    int connectionCount() const override;
    std::uint32_t totalBytesIn() const override;
    std::uint32_t totalBytesOut() const override;
    void tick() override;

    std::uint16_t popPort() const { return popPort_; }
    // Takes effect at the next activation.
    void setPopPort(std::uint16_t port) { popPort_ = port; }
    // The ports actually bound while active.
    std::uint16_t smtpListeningPort() const { return smtpListener_.listeningPort(); }
    std::uint16_t popListeningPort() const { return popListener_.listeningPort(); }

    MailDirectory& directory() { return directory_; }
    ServiceLog& smtpLog() { return smtpLog_.log(); }
    ServiceLog& popLog() { return popLog_.log(); }
    std::int32_t smtpLogNumber() const { return smtpLog_.number(); }
    std::int32_t popLogNumber() const { return popLog_.number(); }

private:
    // Sessions use the directory and the logs, so the listeners come last
    // and are destroyed first.
    MailDirectory directory_;
    NumberedLog smtpLog_;
    NumberedLog popLog_;
    std::uint16_t smtpPort_;
    std::uint16_t popPort_ = DefaultPopPort;
    bool autostart_ = false;
    TrackedFile settingsFile_;  // "email.dat"
    SmtpListener smtpListener_;
    Pop3Listener popListener_;
};

} // namespace vantrel
