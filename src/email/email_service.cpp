// EmailService: "email.dat", the two numbered logs, and activating both
// listeners together.
#include "email/email_service.h"

#include "foundation/folder_check.h"
#include "foundation/product.h"
#include "foundation/settings_store.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace vantrel {

namespace {

constexpr char KeyPopPort[] = "popport";
constexpr std::int32_t MaxPort = 65535;
constexpr char KeySmtpLogNumber[] = "smtplogfilecount";
constexpr char KeyPopLogNumber[] = "pop3logfilecount";
constexpr char KeyAutostart[] = "autostart";
constexpr char KeySmtpPerAddressCap[] = "smtpperaddresscap";
constexpr char KeyPopPerAddressCap[] = "pop3peraddresscap";
constexpr char KeyPopFailedLoginLimit[] = "pop3failedloginlimit";
constexpr char SmtpLogPrefix[] = "logs\\smtplog_";
constexpr char PopLogPrefix[] = "logs\\pop3log_";
constexpr char SmtpLogHeaderSuffix[] = ": SMTP log file\r\n";
constexpr char PopLogHeaderSuffix[] = ": POP3 log file\r\n";
// Folders the service writes into: the mailboxes and the logs.
constexpr std::array<std::string_view, 3> NeededFolders{"email", "logs", MailQueue::Folder};

std::string logHeader(const char* suffix)
{
    return std::string(ProductName) + suffix;
}

} // namespace

EmailService::EmailService(std::uint16_t smtpPort, std::uint32_t idleLimitMs, std::uint16_t relayPort,
                           std::uint32_t copyRetryMs)
    : directory_(AccountCapacity), smtpLog_(SmtpLogPrefix, logHeader(SmtpLogHeaderSuffix)),
      popLog_(PopLogPrefix, logHeader(PopLogHeaderSuffix)), smtpPort_(smtpPort), settingsFile_(SettingsFile),
      guardFile_(GuardFile),
      smtpListener_(SessionLimit, idleLimitMs, CourierPost{directory_, smtpLog_.log(), queue_, relayPort, copyRetryMs}),
      popListener_(SessionLimit, idleLimitMs, directory_, popLog_.log(), popThrottle_),
      runner_(CourierPost{directory_, smtpLog_.log(), queue_, relayPort, copyRetryMs}, idleLimitMs)
{
}

EmailService::~EmailService()
{
    runner_.stop(WorkerThread::StopTimeoutMs);
    popListener_.deactivate();
    smtpListener_.deactivate();
    // Nothing is saved here: whoever changed the settings saves them, and a
    // command that only looked writes nothing.
}

bool EmailService::loadSettings()
{
    SettingsStore store;
    const bool settingsLoaded = settingsFile_.load(store);
    if (settingsLoaded) {
        // A port beyond the range is read as its top, as the settings window
        // shows it, never wrapped round to another port.
        popPort_ = static_cast<std::uint16_t>(std::clamp<std::int32_t>(store.getInt(KeyPopPort), 0, MaxPort));
        smtpLog_.openNumber(store.getInt(KeySmtpLogNumber));
        popLog_.openNumber(store.getInt(KeyPopLogNumber));
        autostart_ = store.getInt(KeyAutostart) == 1;
    }
    // A folder from before this file keeps the defaults; only a file that
    // is there and cannot be read counts as a failure.
    SettingsStore guard;
    if (guardFile_.load(guard)) {
        if (guard.hasKey(KeySmtpPerAddressCap))
            setSmtpPerAddressCap(guard.getInt(KeySmtpPerAddressCap));
        if (guard.hasKey(KeyPopPerAddressCap))
            setPopPerAddressCap(guard.getInt(KeyPopPerAddressCap));
        if (guard.hasKey(KeyPopFailedLoginLimit))
            setPopFailedLoginLimit(guard.getInt(KeyPopFailedLoginLimit));
    }
    const bool guardLoaded = guardFile_.state() != FileState::Damaged;
    // The accounts load whether or not the service's own files could be read.
    const bool directoryLoaded = directory_.load();
    return settingsLoaded && guardLoaded && directoryLoaded;
}

std::uint16_t EmailService::storedPopPort()
{
    SettingsStore store;
    if (store.loadFile(SettingsFile) != SettingsLoad::Loaded)
        return DefaultPopPort;
    return static_cast<std::uint16_t>(std::clamp<std::int32_t>(store.getInt(KeyPopPort), 0, MaxPort));
}

bool EmailService::saveSettings()
{
    SettingsStore store;
    store.setInt(KeyPopPort, popPort_);
    store.setInt(KeySmtpLogNumber, smtpLog_.number());
    store.setInt(KeyPopLogNumber, popLog_.number());
    store.setInt(KeyAutostart, autostart_ ? 1 : 0);
    const bool settingsSaved = settingsFile_.save(store);
    SettingsStore guard;
    guard.setInt(KeySmtpPerAddressCap, smtpPerAddressCap());
    guard.setInt(KeyPopPerAddressCap, popPerAddressCap());
    guard.setInt(KeyPopFailedLoginLimit, popFailedLoginLimit());
    const bool guardSaved = guardFile_.save(guard);
    const bool directorySaved = directory_.save();
    return settingsSaved && guardSaved && directorySaved;
}

bool EmailService::activate()
{
    if (directory_.accountCount() == 0)
        return false;
    // The queue's folder is made here; the check below says when it cannot be.
    (void)queue_.prepare();
    if (!foldersWritable(NeededFolders))
        return false;
    (void)directory_.adoptOrphans(smtpLog_.log());
    queue_.recover([this](std::string_view id) { directory_.noteMessageId(id); });
    if (smtpListener_.activate(smtpPort_) && popListener_.activate(popPort_) && runner_.start())
        return true;
    // Neither port stays bound when the other could not be.
    deactivate();
    return false;
}

void EmailService::deactivate()
{
    runner_.stop(WorkerThread::StopTimeoutMs);
    smtpListener_.deactivate();
    popListener_.deactivate();
}

int EmailService::connectionCount() const
{
    return smtpListener_.connectionCount() + popListener_.connectionCount();
}

std::uint64_t EmailService::totalBytesIn() const
{
    return smtpListener_.totalBytesIn() + popListener_.totalBytesIn();
}

std::uint64_t EmailService::totalBytesOut() const
{
    return smtpListener_.totalBytesOut() + popListener_.totalBytesOut();
}

void EmailService::setSmtpPerAddressCap(int cap)
{
    smtpListener_.setPerAddressCap(std::clamp(cap, 0, SessionLimit));
}

void EmailService::setPopPerAddressCap(int cap)
{
    popListener_.setPerAddressCap(std::clamp(cap, 0, SessionLimit));
}

void EmailService::tick()
{
    smtpLog_.rollOver();
    popLog_.rollOver();
}

} // namespace vantrel
