// Loading and saving "ftp.dat", activation and the log roll-over.
#include "ftp/ftp_service.h"

#include "foundation/folder_check.h"
#include "foundation/product.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "foundation/tls_certificate.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace vantrel {

namespace {

constexpr char KeyLogNumber[] = "logfilecount";
constexpr char KeyAutostart[] = "autostart";
constexpr char KeyWelcome[] = "welcome";
constexpr char KeyPort[] = "port";
constexpr char KeyPerAddressCap[] = "peraddresscap";
constexpr char KeyFailedLoginLimit[] = "failedloginlimit";
// TLS keys of "ftp.dat", each written only when it is not off, so that a
// server without TLS writes the file it always wrote.
constexpr char KeyTlsMode[] = "tls";
constexpr char KeyTlsImplicitPort[] = "tlsimplicitport";
constexpr char KeyTlsAnyData[] = "tlsanydata";
constexpr char TextNoCertificate[] = "%s: the FTP server speaks TLS but the certificate could not be loaded: %s\n";
constexpr std::int32_t MaxPort = 65535;
constexpr char LogPrefix[] = "logs\\ftplog_";
constexpr char LogHeaderSuffix[] = ": FTP log file\r\n";
// Folders of the data folder that the service writes into: the logs.
// Uploads go to the accounts' own folders, which are not the service's.
constexpr std::array<std::string_view, 1> NeededFolders{"logs"};
constexpr char DefaultWelcomeFormat[] = "Welcome to %s - %s.";
// The stored welcome text is read up to this many bytes, then cut by the table.
constexpr std::size_t WelcomeReadLimit = 1023;

std::string logHeader()
{
    return std::string(ProductName) + LogHeaderSuffix;
}

} // namespace

FtpService::FtpService(std::uint32_t idleLimitMs)
    : accounts_(FtpAccountCapacity,
                formatText(FtpAccountTable::MaxWelcome, DefaultWelcomeFormat, MakerName, ProductName)),
      log_(LogPrefix, logHeader()), certificate_(std::make_shared<TlsCertificate>()),
      listener_(SessionLimit, idleLimitMs, accounts_, log_.log(), throttle_),
      implicitListener_(SessionLimit, idleLimitMs, accounts_, log_.log(), throttle_, FtpTlsStart::Implicit)
{
}

FtpService::~FtpService()
{
    deactivate();
}

namespace {

FtpTlsSettings tlsSettingsIn(const SettingsStore& store)
{
    FtpTlsSettings tls;
    tls.mode = tlsModeOf(store.getInt(KeyTlsMode));
    tls.implicitPort =
        static_cast<std::uint16_t>(std::clamp<std::int32_t>(store.getInt(KeyTlsImplicitPort), 0, MaxPort));
    tls.anyDataConnection = store.getInt(KeyTlsAnyData) == 1;
    return tls;
}

} // namespace

bool FtpService::loadSettings()
{
    // Each file is read even when another failed: whatever is not read is
    // written back as its default by the next save.
    const bool accountsLoaded = accounts_.loadAccounts();
    // A folder from before this file keeps the default port; only a file
    // that is there and cannot be read counts as a failure.
    SettingsStore ports;
    const SettingsLoad portLoad = ports.loadFile(PortFile);
    if (portLoad == SettingsLoad::Loaded && ports.hasKey(KeyPort))
        port_ = static_cast<std::uint16_t>(std::clamp<std::int32_t>(ports.getInt(KeyPort), 0, MaxPort));
    SettingsStore guard;
    const SettingsLoad guardLoad = guard.loadFile(GuardFile);
    if (guardLoad == SettingsLoad::Loaded) {
        if (guard.hasKey(KeyPerAddressCap))
            setPerAddressCap(std::clamp<std::int32_t>(guard.getInt(KeyPerAddressCap), 0, SessionLimit));
        if (guard.hasKey(KeyFailedLoginLimit))
            setFailedLoginLimit(guard.getInt(KeyFailedLoginLimit));
    }
    SettingsStore store;
    if (!store.load(SettingsFile) || portLoad == SettingsLoad::Damaged)
        return false;
    autostart_ = store.getInt(KeyAutostart) == 1;
    accounts_.setWelcome(store.getText(KeyWelcome, WelcomeReadLimit));
    tls_ = tlsSettingsIn(store);
    log_.openNumber(store.getInt(KeyLogNumber));
    return accountsLoaded && guardLoad != SettingsLoad::Damaged;
}

std::uint16_t FtpService::storedPort()
{
    SettingsStore ports;
    if (ports.loadFile(PortFile) != SettingsLoad::Loaded || !ports.hasKey(KeyPort))
        return DefaultPort;
    return static_cast<std::uint16_t>(std::clamp<std::int32_t>(ports.getInt(KeyPort), 0, MaxPort));
}

bool FtpService::saveSettings()
{
    if (!accounts_.saveAccounts())
        return false;
    SettingsStore store;
    store.setInt(KeyLogNumber, log_.number());
    store.setInt(KeyAutostart, autostart_ ? 1 : 0);
    store.setText(KeyWelcome, accounts_.welcome());
    const FtpTlsSettings off;
    if (tls_.mode != off.mode)
        store.setInt(KeyTlsMode, static_cast<std::int32_t>(tls_.mode));
    if (tls_.implicitPort != off.implicitPort)
        store.setInt(KeyTlsImplicitPort, tls_.implicitPort);
    if (tls_.anyDataConnection != off.anyDataConnection)
        store.setInt(KeyTlsAnyData, 1);
    SettingsStore ports;
    ports.setInt(KeyPort, port_);
    SettingsStore guard;
    guard.setInt(KeyPerAddressCap, perAddressCap());
    guard.setInt(KeyFailedLoginLimit, failedLoginLimit());
    const bool saved = store.save(SettingsFile);
    const bool portSaved = ports.save(PortFile);
    return guard.save(GuardFile) && portSaved && saved;
}

bool FtpService::activate()
{
    if (!foldersWritable(NeededFolders))
        return false;
    if (tls_.enabled()) {
        std::string whyNot;
        if (!certificateLoads(whyNot)) {
            std::fprintf(stderr, TextNoCertificate, ProductName, whyNot.c_str());
            return false;
        }
    }
    listener_.useTls(tls_, certificate_.get());
    implicitListener_.useTls(tls_, certificate_.get());
    if (!listener_.activate(port_))
        return false;
    if (tls_.enabled() && tls_.implicitPort != 0 && !implicitListener_.activate(tls_.implicitPort)) {
        listener_.deactivate();
        return false;
    }
    return true;
}

void FtpService::deactivate()
{
    implicitListener_.deactivate();
    listener_.deactivate();
}

bool FtpService::certificateLoads(std::string& whyNot)
{
    return certificate_ != nullptr && certificate_->current(&whyNot) != nullptr;
}

namespace {

ServicePorts ftpPorts(std::uint16_t control, std::uint16_t implicitPort)
{
    return portsOf("FTP server", control, "FTP server's implicit TLS port", implicitPort);
}

} // namespace

ServicePorts FtpService::portsInUse() const
{
    return ftpPorts(port_, tls_.implicitPort);
}

ServicePorts FtpService::storedPorts()
{
    SettingsStore store;
    const std::uint16_t implicitPort = store.load(SettingsFile) ? tlsSettingsIn(store).implicitPort : 0;
    return ftpPorts(storedPort(), implicitPort);
}

void FtpService::tick()
{
    log_.rollOver();
}

} // namespace vantrel
