// FtpService: the FTP server as the main window sees it. It owns the
// account table (with the welcome message), the numbered FTP log and the
// listener, keeps the settings of "ftp.dat" and the control port, which is
// held in memory only.
#pragma once

#include "foundation/service_control.h"
#include "foundation/service_log.h"
#include "ftp/ftp_account_table.h"
#include "ftp/ftp_listener.h"

#include <cstdint>
#include <string_view>

namespace vantrel {

class FtpService final : public ServiceControl {
public:
    static constexpr int SessionLimit = 1000;
    // A busy session: control socket, stop event, data socket (or the
    // passive listener and the arriving connection) and the file.
    static constexpr int DescriptorsPerSession = 4;
    static constexpr std::uint16_t DefaultPort = 21;
    // The control port, kept across starts in a file of its own; without
    // it the port is DefaultPort.
    static constexpr char PortFile[] = "ftpport.dat";
    static constexpr char SettingsFile[] = "ftp.dat";

    // The idle limit is the sessions' own except in tests.
    explicit FtpService(std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs);
    ~FtpService() override;
    FtpService(const FtpService&) = delete;
    FtpService& operator=(const FtpService&) = delete;

    // Reads the accounts and "ftp.dat", each whether or not the other loaded;
    // false when either failed.
    [[nodiscard]] bool loadSettings() override;
    [[nodiscard]] bool saveSettings() override;
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) { autostart_ = on; }
    bool isActive() const override { return listener_.isActive(); }
    // Listens on the port on all local addresses; false when it cannot, or
    // when the "logs" folder cannot be written (said on standard error).
    [[nodiscard]] bool activate() override;
    void deactivate() override;
    int connectionCount() const override { return listener_.connectionCount(); }
    std::uint64_t totalBytesIn() const override { return listener_.totalBytesIn(); }
    std::uint64_t totalBytesOut() const override { return listener_.totalBytesOut(); }
    void tick() override;
    // The sessions, the listening socket and the listener's stop event.
    int descriptorsAtFullLoad() const override { return SessionLimit * DescriptorsPerSession + 2; }

    // The control port for the next activation (0: the system picks one).
    std::uint16_t port() const { return port_; }
    void setPort(std::uint16_t port) { port_ = port; }
    // The port actually bound while active.
    std::uint16_t listeningPort() const { return listener_.listeningPort(); }

    FtpAccountTable& accounts() { return accounts_; }
    std::int32_t logNumber() const { return log_.number(); }
    ServiceLog& log() { return log_.log(); }

private:
    // Sessions use the accounts and the log, so the listener is declared
    // last and destroyed first.
    FtpAccountTable accounts_;
    NumberedLog log_;
    std::uint16_t port_ = DefaultPort;
    bool autostart_ = false;
    FtpListener listener_;
};

} // namespace vantrel
