// FtpService: the FTP server as the main window sees it. It owns the
// account table (with the welcome message), the numbered FTP log, the
// failed-login throttle, the listener (and the implicit TLS port's), and
// keeps the settings of "ftp.dat" (TLS among them), the control port of
// "ftpport.dat" and the per-address limits of "ftpguard.dat".
#pragma once

#include "foundation/login_throttle.h"
#include "foundation/service_control.h"
#include "foundation/service_log.h"
#include "ftp/ftp_account_table.h"
#include "ftp/ftp_listener.h"
#include "ftp/ftp_settings_panel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace vantrel {

class TlsCertificate;

class FtpService final : public ServiceControl, public FtpPanelTarget {
public:
    static constexpr int SessionLimit = 1000;
    // A busy session: control socket, stop event, data socket (or the
    // passive listener and the arriving connection), the file, and the two
    // ends of the pipe an upload passes through.
    static constexpr int DescriptorsPerSession = 6;
    static constexpr std::uint16_t DefaultPort = 21;
    // The control port, kept across starts in a file of its own; without
    // it the port is DefaultPort.
    static constexpr char PortFile[] = "ftpport.dat";
    static constexpr char SettingsFile[] = "ftp.dat";
    // The connection cap per client address and the failed-login limit,
    // kept in a file of their own; without it they are 0 (no cap) and
    // LoginThrottle::DefaultLimit.
    static constexpr char GuardFile[] = "ftpguard.dat";

    // The idle limit is the sessions' own except in tests.
    explicit FtpService(std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs);
    ~FtpService() override;
    FtpService(const FtpService&) = delete;
    FtpService& operator=(const FtpService&) = delete;

    // Reads the accounts and "ftp.dat", each whether or not the other loaded;
    // false when either failed.
    [[nodiscard]] bool loadSettings() override;
    // The control port its files name, read without loading anything else
    // (for the other services' settings of a stopped server).
    static std::uint16_t storedPort();
    [[nodiscard]] bool saveSettings() override;
    bool autostart() const override { return autostart_; }
    void setAutostart(bool on) override { autostart_ = on; }
    bool isActive() const override { return listener_.isActive(); }
    // Listens on the port on all local addresses, and with TLS on and an
    // implicit port on that one too; false when either cannot, when the
    // "logs" folder cannot be written or, with TLS on, the certificate
    // cannot be loaded (each said on standard error).
    [[nodiscard]] bool activate() override;
    void deactivate() override;
    int connectionCount() const override { return listener_.connectionCount() + implicitListener_.connectionCount(); }
    std::uint64_t totalBytesIn() const override { return listener_.totalBytesIn() + implicitListener_.totalBytesIn(); }
    std::uint64_t totalBytesOut() const override
    {
        return listener_.totalBytesOut() + implicitListener_.totalBytesOut();
    }
    void tick() override;
    // The sessions, and per listener its socket and stop event.
    int descriptorsAtFullLoad() const override { return SessionLimit * DescriptorsPerSession + 4; }

    // The control port for the next activation (0: the system picks one).
    std::uint16_t port() const override { return port_; }
    void setPort(std::uint16_t port) override { port_ = port; }
    // The port actually bound while active.
    std::uint16_t listeningPort() const { return listener_.listeningPort(); }
    // The implicit TLS port actually bound while active (0: none).
    std::uint16_t implicitListeningPort() const
    {
        return implicitListener_.isActive() ? implicitListener_.listeningPort() : 0;
    }

    // Live connections one client address may hold (0: no cap), from the
    // next connection on.
    int perAddressCap() const override { return listener_.perAddressCap(); }
    void setPerAddressCap(int cap) override
    {
        listener_.setPerAddressCap(cap);
        implicitListener_.setPerAddressCap(cap);
    }
    // Failed logins from one address within a minute before its logins are
    // refused for a minute (0: never), from the next login on.
    int failedLoginLimit() const override { return throttle_.limit(); }
    void setFailedLoginLimit(int limit) override { throttle_.setLimit(limit); }

    FtpAccountTable& accounts() override { return accounts_; }
    std::int32_t logNumber() const { return log_.number(); }
    ServiceLog& log() { return log_.log(); }
    // The program's certificate, for the connections that speak TLS. Until
    // one is given, the service has one of its own: the self-signed pair
    // in "tls" of the data folder.
    void useCertificate(std::shared_ptr<TlsCertificate> certificate) { certificate_ = std::move(certificate); }

    // TLS: off unless set; like the port, used from the next activation on.
    FtpTlsSettings tlsSettings() const override { return tls_; }
    void setTlsSettings(const FtpTlsSettings& settings) override { tls_ = settings; }
    bool certificateLoads(std::string& whyNot) override;
    // The ports it is set to listen on: as configured, and as a stopped
    // server's files say.
    ServicePorts portsInUse() const;
    static ServicePorts storedPorts();

private:
    // Sessions use the accounts and the log, so the listener is declared
    // last and destroyed first.
    FtpAccountTable accounts_;
    NumberedLog log_;
    LoginThrottle throttle_;
    std::shared_ptr<TlsCertificate> certificate_;
    std::uint16_t port_ = DefaultPort;
    bool autostart_ = false;
    FtpTlsSettings tls_;
    FtpListener listener_;
    FtpListener implicitListener_;
};

} // namespace vantrel
