// EmailService: "email.dat", the two numbered logs, and activating both
// listeners together.
#include "email/email_service.h"

#include "foundation/folder_check.h"
#include "foundation/product.h"
#include "foundation/settings_store.h"
#include "foundation/tls_certificate.h"

#include <algorithm>
#include <array>
#include <cstdio>
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
// Mail TLS keys of "email.dat", each written only when it is not off, so
// that a server without mail TLS writes the file it always wrote.
constexpr char KeyTlsMode[] = "tls";
constexpr char KeySmtpsPort[] = "smtpsport";
constexpr char KeyPop3sPort[] = "pop3sport";
constexpr char KeyRelayRequiresTls[] = "relayrequirestls";
constexpr char KeyRelayHostRequiresTls[] = "relayhostrequirestls";
constexpr char TextNoCertificate[] = "%s: the email server speaks TLS but the certificate could not be loaded: %s\n";
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

std::uint16_t storedPort(const SettingsStore& store, const char* key)
{
    return static_cast<std::uint16_t>(std::clamp<std::int32_t>(store.getInt(key), 0, MaxPort));
}

MailTlsSettings tlsSettingsIn(const SettingsStore& store)
{
    MailTlsSettings tls;
    tls.mode = tlsModeOf(store.getInt(KeyTlsMode));
    tls.smtpsPort = storedPort(store, KeySmtpsPort);
    tls.pop3sPort = storedPort(store, KeyPop3sPort);
    tls.relayRequiresTls = store.getInt(KeyRelayRequiresTls) == 1;
    tls.relayHostRequiresTls = store.getInt(KeyRelayHostRequiresTls) == 1;
    return tls;
}

ServicePorts emailPorts(std::uint16_t smtp, std::uint16_t pop3, const MailTlsSettings& tls)
{
    ServicePorts ports{{"SMTP server", smtp}, {"POP3 server", pop3}};
    if (tls.smtpsPort != 0)
        ports.push_back({"SMTP server's implicit TLS port", tls.smtpsPort});
    if (tls.pop3sPort != 0)
        ports.push_back({"POP3 server's implicit TLS port", tls.pop3sPort});
    return ports;
}

} // namespace

EmailService::EmailService(std::uint16_t smtpPort, std::uint32_t idleLimitMs, std::uint16_t relayPort,
                           std::uint32_t copyRetryMs)
    : directory_(AccountCapacity), smtpLog_(SmtpLogPrefix, logHeader(SmtpLogHeaderSuffix)),
      popLog_(PopLogPrefix, logHeader(PopLogHeaderSuffix)), certificate_(std::make_shared<TlsCertificate>()),
      smtpPort_(smtpPort), settingsFile_(SettingsFile), guardFile_(GuardFile),
      smtpListener_(SessionLimit, idleLimitMs, CourierPost{directory_, smtpLog_.log(), queue_, relayPort, copyRetryMs}),
      popListener_(SessionLimit, idleLimitMs, directory_, popLog_.log(), popThrottle_),
      smtpsListener_(SessionLimit, idleLimitMs, CourierPost{directory_, smtpLog_.log(), queue_, relayPort, copyRetryMs},
                     true),
      pop3sListener_(SessionLimit, idleLimitMs, directory_, popLog_.log(), popThrottle_, true),
      runner_(CourierPost{directory_, smtpLog_.log(), queue_, relayPort, copyRetryMs}, idleLimitMs)
{
}

EmailService::~EmailService()
{
    runner_.stop(WorkerThread::StopTimeoutMs);
    pop3sListener_.deactivate();
    smtpsListener_.deactivate();
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
        tls_ = tlsSettingsIn(store);
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
    const MailTlsSettings off;
    if (tls_.mode != off.mode)
        store.setInt(KeyTlsMode, static_cast<std::int32_t>(tls_.mode));
    if (tls_.smtpsPort != off.smtpsPort)
        store.setInt(KeySmtpsPort, tls_.smtpsPort);
    if (tls_.pop3sPort != off.pop3sPort)
        store.setInt(KeyPop3sPort, tls_.pop3sPort);
    if (tls_.relayRequiresTls != off.relayRequiresTls)
        store.setInt(KeyRelayRequiresTls, 1);
    if (tls_.relayHostRequiresTls != off.relayHostRequiresTls)
        store.setInt(KeyRelayHostRequiresTls, 1);
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
    if (tls_.enabled()) {
        std::string whyNot;
        if (!certificateLoads(whyNot)) {
            std::fprintf(stderr, TextNoCertificate, ProductName, whyNot.c_str());
            return false;
        }
    }
    // Running listeners and the runner read their TLS settings: a second
    // activation leaves them alone.
    if (!isActive()) {
        for (SmtpListener* listener : {&smtpListener_, &smtpsListener_})
            listener->useTls(tls_, certificate_.get());
        for (Pop3Listener* listener : {&popListener_, &pop3sListener_})
            listener->useTls(tls_, certificate_.get());
        runner_.useRelayTls(relayTlsOf(tls_));
    }
    (void)directory_.adoptOrphans(smtpLog_.log());
    queue_.recover([this](std::string_view id) { directory_.noteMessageId(id); });
    const bool smtps = tls_.enabled() && tls_.smtpsPort != 0;
    const bool pop3s = tls_.enabled() && tls_.pop3sPort != 0;
    if (smtpListener_.activate(smtpPort_) && popListener_.activate(popPort_) &&
        (!smtps || smtpsListener_.activate(tls_.smtpsPort)) && (!pop3s || pop3sListener_.activate(tls_.pop3sPort)) &&
        runner_.start())
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
    smtpsListener_.deactivate();
    pop3sListener_.deactivate();
}

bool EmailService::certificateLoads(std::string& whyNot)
{
    return certificate_ != nullptr && certificate_->current(&whyNot) != nullptr;
}

ServicePorts EmailService::portsInUse() const
{
    return emailPorts(smtpPort_, popPort_, tls_);
}

ServicePorts EmailService::storedPorts()
{
    SettingsStore store;
    const MailTlsSettings tls =
        store.loadFile(SettingsFile) == SettingsLoad::Loaded ? tlsSettingsIn(store) : MailTlsSettings{};
    return emailPorts(SmtpPort, storedPopPort(), tls);
}

int EmailService::connectionCount() const
{
    return smtpListener_.connectionCount() + popListener_.connectionCount() + smtpsListener_.connectionCount() +
           pop3sListener_.connectionCount();
}

std::uint64_t EmailService::totalBytesIn() const
{
    return smtpListener_.totalBytesIn() + popListener_.totalBytesIn() + smtpsListener_.totalBytesIn() +
           pop3sListener_.totalBytesIn();
}

std::uint64_t EmailService::totalBytesOut() const
{
    return smtpListener_.totalBytesOut() + popListener_.totalBytesOut() + smtpsListener_.totalBytesOut() +
           pop3sListener_.totalBytesOut();
}

void EmailService::setSmtpPerAddressCap(int cap)
{
    smtpListener_.setPerAddressCap(std::clamp(cap, 0, SessionLimit));
    smtpsListener_.setPerAddressCap(std::clamp(cap, 0, SessionLimit));
}

void EmailService::setPopPerAddressCap(int cap)
{
    popListener_.setPerAddressCap(std::clamp(cap, 0, SessionLimit));
    pop3sListener_.setPerAddressCap(std::clamp(cap, 0, SessionLimit));
}

void EmailService::tick()
{
    smtpLog_.rollOver();
    popLog_.rollOver();
}

} // namespace vantrel
