// Loading and saving "ftp.dat", activation and the log roll-over.
#include "ftp/ftp_service.h"

#include "foundation/folder_check.h"
#include "foundation/product.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"

#include <algorithm>
#include <array>
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
      log_(LogPrefix, logHeader()), listener_(SessionLimit, idleLimitMs, accounts_, log_.log(), throttle_)
{
}

FtpService::~FtpService()
{
    deactivate();
}

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
    return listener_.activate(port_);
}

void FtpService::deactivate()
{
    listener_.deactivate();
}

void FtpService::tick()
{
    log_.rollOver();
}

} // namespace vantrel
