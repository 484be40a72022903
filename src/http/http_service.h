// HttpService: the web server as the main window sees it. It owns the site
// configuration, the numbered request log and the listener, keeps the port
// and the autostart switch, and loads and saves "http.dat",
// "httpdomains.dat" and "httpguard.dat" in the working directory. Constructing it writes the
// replaceable error pages into the "http" folder when they are missing.
// With an HTTPS port set, a second listener serves the same sites over TLS
// with the program's certificate; it is off (port 0) by default.
#pragma once

#include "foundation/service_control.h"
#include "foundation/service_log.h"
#include "http/http_settings_panel.h"
#include "http/http_site_config.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vantrel {

class HttpListener;
class TlsCertificate;

class HttpService final : public ServiceControl, public HttpPanelTarget {
public:
    static constexpr int MaxConnections = 1000;
    // A busy session: its socket, its stop event and the file or folder it sends.
    static constexpr int DescriptorsPerSession = 3;
    static constexpr std::uint16_t DefaultPort = 80;
    static constexpr char SettingsFile[] = "http.dat";
    static constexpr char DomainsFile[] = "httpdomains.dat";
    // The connection cap per client address, in a file of its own; without
    // it there is none.
    static constexpr char GuardFile[] = "httpguard.dat";
    static constexpr char LogPrefix[] = "logs\\httplog_";
    static constexpr char LogHeader[] = "Vantrel Server 2.33: HTTP log file\r\n";

    HttpService();
    ~HttpService() override;
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // Domain maps, then "http.dat", each whether or not the other loaded;
    // false when either failed.
    [[nodiscard]] bool loadSettings() override;
    // Domain maps first; "http.dat" only when they were saved.
    [[nodiscard]] bool saveSettings() override;

    // Refused while the default folder has fewer than 2 characters, when
    // the "logs" folder cannot be written (said on standard error), and
    // with an HTTPS port set, when there is no loadable certificate (the
    // reason on standard error) or either port cannot be bound.
    [[nodiscard]] bool activate() override;
    void deactivate() override;
    bool isActive() const override;
    int connectionCount() const override;
    std::uint64_t totalBytesIn() const override;
    std::uint64_t totalBytesOut() const override;
    // Once a second while active: the log moves on past a full file.
    void tick() override;
    // The sessions, the listening socket and the listener's stop event;
    // twice with the HTTPS listener.
    int descriptorsAtFullLoad() const override
    {
        return (MaxConnections * DescriptorsPerSession + 2) * (httpsPort_ != 0 ? 2 : 1);
    }

    bool autostart() const override { return autoStart_; }
    void setAutostart(bool on) override { autoStart_ = on; }
    // Takes effect at the next activation. Port 0 lets the system pick.
    std::uint16_t port() const override { return port_; }
    void setPort(std::uint16_t port) override { port_ = port; }
    // The port actually bound while active (the system's pick for port 0).
    std::uint16_t listeningPort() const;
    // The HTTPS port for the next activation; 0: no HTTPS.
    std::uint16_t httpsPort() const override { return httpsPort_; }
    void setHttpsPort(std::uint16_t port) override { httpsPort_ = port; }
    // The HTTPS port actually bound, 0 while it does not listen.
    std::uint16_t listeningHttpsPort() const;
    // The ports it is set to listen on: as configured, and as a stopped
    // server's files say.
    ServicePorts portsInUse() const;
    static ServicePorts storedPorts();
    // Live connections one client address may hold (0: no cap), from the
    // next connection on.
    int perAddressCap() const override;
    void setPerAddressCap(int cap) override;

    HttpSiteConfig& site() override { return site_; }
    const HttpSiteConfig& site() const { return site_; }
    NumberedLog& log() { return log_; }
    std::int32_t logFileCount() const { return log_.number(); }
    // The program's certificate, for the connections that speak TLS.
    void useCertificate(std::shared_ptr<TlsCertificate> certificate) { certificate_ = std::move(certificate); }

private:
    HttpSiteConfig site_;
    NumberedLog log_;
    std::shared_ptr<TlsCertificate> certificate_;
    std::uint16_t port_ = DefaultPort;
    std::uint16_t httpsPort_ = 0;
    bool autoStart_ = false;
    // Last members: their sessions use the site and the log, so they go first.
    std::unique_ptr<HttpListener> listener_;
    std::unique_ptr<HttpListener> httpsListener_;
};

} // namespace vantrel
