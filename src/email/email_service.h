// EmailService: the email server as the main window sees it. It owns the
// mail directory, the SMTP and POP3 listeners, their numbered logs and the
// settings of "email.dat", and activates and deactivates both listeners
// together.
#pragma once

#include "email/email_listeners.h"
#include "email/mail_directory.h"
#include "email/mail_queue.h"
#include "email/queue_runner.h"
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
    // A copy that failed (a full disk) is tried again after this long.
    static constexpr std::uint32_t CopyRetryMs = 60000;
    static constexpr char SettingsFile[] = "email.dat";

    // The program uses port 25, the idle limit of the sessions, the relay
    // host's port 25 and a minute between tries of a failed copy; tests
    // pass port 0 (the system picks one), shorter limits and the port of a
    // relay host they play themselves.
    explicit EmailService(std::uint16_t smtpPort = SmtpPort,
                          std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs,
                          std::uint16_t relayPort = RelayPort, std::uint32_t copyRetryMs = CopyRetryMs);
    // Stops the listeners and the runner; saves nothing.
    ~EmailService() override;
    EmailService(const EmailService&) = delete;
    EmailService& operator=(const EmailService&) = delete;

    [[nodiscard]] bool loadSettings() override;
    [[nodiscard]] bool saveSettings() override;
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) { autostart_ = on; }
    bool isActive() const override { return smtpListener_.isActive(); }
    // Fails without an account, when the "email", "logs" or "mailqueue"
    // folder cannot be written (said on standard error), or when either
    // port cannot be bound (both listeners are then inactive). Before the
    // listeners start, message files that no index names are taken into
    // their mailboxes and the queue left by the last run is taken up; its
    // mail is delivered first, by the queue runner.
    [[nodiscard]] bool activate() override;
    void deactivate() override;
    int connectionCount() const override;
    std::uint64_t totalBytesIn() const override;
    std::uint64_t totalBytesOut() const override;
    void tick() override;

    std::uint16_t popPort() const { return popPort_; }
    // Takes effect at the next activation.
    void setPopPort(std::uint16_t port) { popPort_ = port; }
    // The ports actually bound while active.
    std::uint16_t smtpListeningPort() const { return smtpListener_.listeningPort(); }
    std::uint16_t popListeningPort() const { return popListener_.listeningPort(); }

    MailDirectory& directory() { return directory_; }
    MailQueue& queue() { return queue_; }
    ServiceLog& smtpLog() { return smtpLog_.log(); }
    ServiceLog& popLog() { return popLog_.log(); }
    std::int32_t smtpLogNumber() const { return smtpLog_.number(); }
    std::int32_t popLogNumber() const { return popLog_.number(); }

private:
    // Sessions use the directory, the logs and the queue, so the listeners
    // and the runner come last and are destroyed first.
    MailDirectory directory_;
    NumberedLog smtpLog_;
    NumberedLog popLog_;
    MailQueue queue_;
    std::uint16_t smtpPort_;
    std::uint16_t popPort_ = DefaultPopPort;
    bool autostart_ = false;
    TrackedFile settingsFile_;  // "email.dat"
    SmtpListener smtpListener_;
    Pop3Listener popListener_;
    QueueRunner runner_;
};

} // namespace vantrel
