// The web server's service object: settings files, activation and the
// request log's roll-over.
#include "http/http_service.h"

#include "foundation/folder_check.h"
#include "foundation/tls_certificate.h"
#include "http/http_session.h"
#include "http/http_status_pages.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace vantrel {

namespace {

constexpr char KeyLogFileCount[] = "logfilecount";
constexpr char KeyPort[] = "port";
constexpr char KeyAdmin[] = "admin";
constexpr char KeyDefaultFolder[] = "defaultfolder";
constexpr char KeyDefaultPage[] = "defaultpage";
constexpr char KeyFolderView[] = "folderview";
constexpr char KeyAutoStart[] = "autostart";
constexpr char KeyPerAddressCap[] = "peraddresscap";
// Written only when HTTPS is set up, so that a file without them stays as it was.
constexpr char KeyHttpsPort[] = "httpsport";
constexpr char KeyHttpsRedirect[] = "httpsredirect";
constexpr char KeyLogsRequireTls[] = "logsrequiretls";
constexpr char NoCertificateText[] = "HTTPS cannot start: %s\n";
constexpr char NoCertificateGiven[] = "the program has no certificate";
// Texts are read up to this length and then cut by their setters.
constexpr std::size_t MaxStoredText = 499;
// A default folder needs at least a drive-like "C:" or a two-letter path.
constexpr std::size_t ShortestDefaultFolder = 2;
// Folders the service writes into: the logs.
constexpr std::array<std::string_view, 1> NeededFolders{"logs"};

struct TextSetting {
    const char* key;
    void (HttpSiteConfig::*apply)(std::string_view);
    std::string (HttpSiteConfig::*read)() const;
};

constexpr std::array<TextSetting, 3> TextSettings{{
    {KeyAdmin, &HttpSiteConfig::setAdminPassword, &HttpSiteConfig::adminPassword},
    {KeyDefaultFolder, &HttpSiteConfig::setDefaultFolder, &HttpSiteConfig::defaultFolder},
    {KeyDefaultPage, &HttpSiteConfig::setDefaultPage, &HttpSiteConfig::defaultPage},
}};

} // namespace

HttpService::HttpService()
    : log_(LogPrefix, LogHeader), listener_(std::make_unique<HttpListener>(MaxConnections, site_, log_)),
      httpsListener_(std::make_unique<HttpListener>(MaxConnections, site_, log_, HttpChannel::Tls))
{
    ensureErrorPages();
}

HttpService::~HttpService()
{
    deactivate();
}

bool HttpService::loadSettings()
{
    // Each file is read even when the other failed: whatever is not read is
    // written back as its default by the next save.
    const bool mapsLoaded = site_.loadDomainMaps(DomainsFile);
    // A folder from before this file has no cap; only a file that is there
    // and cannot be read counts as a failure.
    SettingsStore guard;
    const SettingsLoad guardLoad = guard.loadFile(GuardFile);
    if (guardLoad == SettingsLoad::Loaded && guard.hasKey(KeyPerAddressCap))
        setPerAddressCap(guard.getInt(KeyPerAddressCap));
    SettingsStore settings;
    if (!settings.load(SettingsFile))
        return false;
    port_ = static_cast<std::uint16_t>(settings.getInt(KeyPort) & 0xFFFF);
    log_.openNumber(settings.getInt(KeyLogFileCount));
    for (const auto& setting : TextSettings) {
        if (settings.hasKey(setting.key))
            (site_.*setting.apply)(settings.getText(setting.key, MaxStoredText));
    }
    site_.setFolderView(settings.getInt(KeyFolderView) == 1);
    autoStart_ = settings.getInt(KeyAutoStart) == 1;
    httpsPort_ = static_cast<std::uint16_t>(settings.getInt(KeyHttpsPort) & 0xFFFF);
    site_.setRedirectToHttps(settings.getInt(KeyHttpsRedirect) == 1);
    site_.setLogsRequireTls(settings.getInt(KeyLogsRequireTls) == 1);
    return mapsLoaded && guardLoad != SettingsLoad::Damaged;
}

bool HttpService::saveSettings()
{
    if (!site_.saveDomainMaps(DomainsFile))
        return false;
    SettingsStore settings;
    settings.setInt(KeyLogFileCount, log_.number());
    settings.setInt(KeyPort, port_);
    for (const auto& setting : TextSettings)
        settings.setText(setting.key, (site_.*setting.read)());
    settings.setInt(KeyFolderView, site_.folderView() ? 1 : 0);
    settings.setInt(KeyAutoStart, autoStart_ ? 1 : 0);
    if (httpsPort_ != 0)
        settings.setInt(KeyHttpsPort, httpsPort_);
    if (site_.redirectToHttps())
        settings.setInt(KeyHttpsRedirect, 1);
    if (site_.logsRequireTls())
        settings.setInt(KeyLogsRequireTls, 1);
    SettingsStore guard;
    guard.setInt(KeyPerAddressCap, perAddressCap());
    const bool saved = settings.save(SettingsFile);
    return guard.save(GuardFile) && saved;
}

bool HttpService::activate()
{
    if (site_.defaultFolder().size() < ShortestDefaultFolder)
        return false;
    if (!foldersWritable(NeededFolders))
        return false;
    if (httpsPort_ == 0)
        return listener_->activate(port_);
    // The HTTPS listener's certificate may change only while it is stopped.
    if (isActive())
        return false;
    // The certificate is loaded (or made) now, so that a missing one stops
    // the activation instead of every connection.
    std::string whyNot = NoCertificateGiven;
    if (!certificate_ || !certificate_->current(&whyNot)) {
        std::fprintf(stderr, NoCertificateText, whyNot.c_str());
        return false;
    }
    httpsListener_->useCertificate(certificate_);
    if (!listener_->activate(port_))
        return false;
    if (!httpsListener_->activate(httpsPort_)) {
        listener_->deactivate();
        return false;
    }
    site_.setLiveHttpsPort(httpsListener_->listeningPort());
    return true;
}

void HttpService::deactivate()
{
    site_.setLiveHttpsPort(0);
    httpsListener_->deactivate();
    listener_->deactivate();
}

bool HttpService::isActive() const
{
    return listener_->isActive();
}

int HttpService::connectionCount() const
{
    return listener_->connectionCount() + httpsListener_->connectionCount();
}

std::uint64_t HttpService::totalBytesIn() const
{
    return listener_->totalBytesIn() + httpsListener_->totalBytesIn();
}

std::uint64_t HttpService::totalBytesOut() const
{
    return listener_->totalBytesOut() + httpsListener_->totalBytesOut();
}

void HttpService::tick()
{
    if (isActive())
        log_.rollOver();
}

std::uint16_t HttpService::listeningPort() const
{
    return listener_->listeningPort();
}

std::uint16_t HttpService::listeningHttpsPort() const
{
    return httpsListener_->isActive() ? httpsListener_->listeningPort() : 0;
}

namespace {

ServicePorts httpPorts(std::uint16_t http, std::uint16_t https)
{
    return portsOf("HTTP server", http, "HTTPS server", https);
}

} // namespace

ServicePorts HttpService::portsInUse() const
{
    return httpPorts(port_, httpsPort_);
}

ServicePorts HttpService::storedPorts()
{
    SettingsStore settings;
    if (!settings.load(SettingsFile))
        return httpPorts(DefaultPort, 0);
    return httpPorts(static_cast<std::uint16_t>(settings.getInt(KeyPort) & 0xFFFF),
                     static_cast<std::uint16_t>(settings.getInt(KeyHttpsPort) & 0xFFFF));
}

int HttpService::perAddressCap() const
{
    return listener_->perAddressCap();
}

void HttpService::setPerAddressCap(int cap)
{
    listener_->setPerAddressCap(std::clamp(cap, 0, MaxConnections));
    httpsListener_->setPerAddressCap(std::clamp(cap, 0, MaxConnections));
}

} // namespace vantrel
