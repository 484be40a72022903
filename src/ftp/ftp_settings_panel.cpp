// The "FTP Settings" window's steps. Each action validates the fields in a
// fixed order and stops at the first message, so that an invalid input
// leaves the account table and the service as they were.
#include "ftp/ftp_settings_panel.h"

#include "foundation/directory_scan.h"
#include "foundation/file_system.h"
#include "foundation/login_throttle.h"
#include "foundation/service_control.h"
#include "foundation/text.h"
#include "foundation/tls_certificate_panel.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

namespace vantrel {

namespace {

constexpr char AccountsCaption[] = "FTP Accounts (%d of %d --- %d max)";
constexpr char NoAccountCaption[] = "FTP Accounts (0 of 0 --- %d max)";

constexpr char InputErrorTitle[] = "Input Error";
constexpr char WarningTitle[] = "Warning";
constexpr char CreationFailedTitle[] = "Creation Failed";
constexpr char DeleteFailedTitle[] = "Delete Failed";

constexpr char NoUserText[] = "No 'user' given.";
constexpr char BadUserText[] = "The 'user' given may not contain '\\' or '/'.";
constexpr char NoPasswordText[] = "No 'password' given.";
constexpr char AnonymousPasswordText[] = "The 'anonymous' account ignores the password.";
constexpr char NoFolderText[] = "No 'folder' given.";
constexpr char LongFolderText[] = "The 'folder' given is too long.";
constexpr char MissingFolderText[] = "The 'folder' given does not exist.";
constexpr char TableFullText[] = "Account failed to be added, you have reached your maximum\naccount allocation.";
constexpr char NotFoundText[] = "Could not find account.";
constexpr char ReloginText[] =
    "Any currently logged in users using this account will not be\naffected until they re-login.\n"
    "To force re-login you should De-Activate and Re-Activate the\nFTP server.";
constexpr char NoWelcomeText[] = "There is no welcome message supplied.\nSome FTP clients may not function correctly.";
constexpr char PortChangeText[] =
    "Please note that the port change will not take effect\nuntil the FTP Server has been restarted.";
constexpr char BadPortText[] = "No valid 'port' given.";
constexpr char BadCapText[] = "No valid 'connections per address' given (0 to 1000, 0 for no cap).";
constexpr char BadLoginLimitText[] = "No valid 'failed logins per minute' given (0 to 1000, 0 for no limit).";
constexpr char BadImplicitPortText[] = "No valid 'implicit TLS port' given (0 for none).";
constexpr char PortTakenFormat[] = "The 'implicit TLS port' %u is already used by the %s.";
constexpr char ControlPortName[] = "FTP control connection";
constexpr char TlsChangeText[] =
    "Please note that the TLS change will not take effect\nuntil the FTP Server has been restarted.";

constexpr std::size_t MaxDeleteUser = 199;
constexpr std::size_t MaxWelcomeField = 2047;
constexpr char FolderSeparator = '\\';

PromptIcon iconFor(std::string_view title)
{
    return title == WarningTitle ? PromptIcon::Warning : PromptIcon::Error;
}

// A port field holds digits, maybe with spaces around them.
std::optional<std::uint16_t> parsePort(std::string_view text)
{
    text = trimText(text);
    if (text.empty())
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > std::numeric_limits<std::uint16_t>::max())
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// A count field: digits for 0 to `maximum`, maybe with spaces around them.
std::optional<int> parseCount(std::string_view text, int maximum)
{
    text = trimText(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace

FtpSettingsPanel::FtpSettingsPanel(FtpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser)
    : target_(target), prompt_(prompt), chooser_(chooser)
{
}

void FtpSettingsPanel::show()
{
    fields_.welcome = target_.accounts().welcome();
    fields_.port = std::to_string(target_.port());
    fields_.perAddressCap = std::to_string(target_.perAddressCap());
    fields_.failedLoginLimit = std::to_string(target_.failedLoginLimit());
    fields_.autoActivate = target_.autostart();
    const FtpTlsSettings tls = target_.tlsSettings();
    fields_.tlsMode = tls.mode;
    fields_.implicitPort = std::to_string(tls.implicitPort);
    fields_.tlsAnyData = tls.anyDataConnection;
    showAccount();
    fields_.arrowsEnabled = target_.accounts().count() > 0;
}

void FtpSettingsPanel::showAccount()
{
    const FtpAccountTable& table = target_.accounts();
    const int count = table.count();
    if (position_ >= 0 && position_ < count) {
        const FtpAccount account = table.copyAt(position_);
        fields_.caption = formatText(200, AccountsCaption, position_ + 1, count, table.capacity());
        fields_.folder = account.folder;
        fields_.password = account.password;
        fields_.user = account.user;
        fields_.rights = account.rights;
        return;
    }
    fields_.caption = formatText(200, NoAccountCaption, table.capacity());
    fields_.user.clear();
    fields_.password.clear();
    fields_.folder.clear();
    fields_.rights = DefaultAccountRights;
}

void FtpSettingsPanel::message(const char* text, const char* title)
{
    prompt_.show(text, title, PromptButtons::Ok, iconFor(title));
}

void FtpSettingsPanel::warnRelogin()
{
    if (target_.isActive())
        message(ReloginText, WarningTitle);
}

std::string FtpSettingsPanel::cleanedUser(std::string_view field)
{
    std::string user = lowerAscii(field);
    user.erase(std::remove(user.begin(), user.end(), ' '), user.end());
    return user.substr(0, FtpAccount::MaxText);
}

bool FtpSettingsPanel::takeUser(FtpAccount& account)
{
    const std::string user = cleanedUser(fields_.user);
    if (user.empty()) {
        message(NoUserText, InputErrorTitle);
        return false;
    }
    account.user = user;
    fields_.user = account.user;
    // The name becomes the name of the account's file in the "ftp" folder;
    // a separator would put that file somewhere else.
    if (account.user.find_first_of("\\/") != std::string::npos) {
        message(BadUserText, InputErrorTitle);
        return false;
    }
    return true;
}

bool FtpSettingsPanel::takePassword(FtpAccount& account)
{
    if (account.user == FtpAccountTable::AnonymousUser) {
        if (!fields_.password.empty()) {
            message(AnonymousPasswordText, WarningTitle);
            fields_.password.clear();
        }
        return true;
    }
    if (fields_.password.empty()) {
        message(NoPasswordText, InputErrorTitle);
        return false;
    }
    account.password = fields_.password.substr(0, FtpAccount::MaxText);
    return true;
}

bool FtpSettingsPanel::takeFolder(FtpAccount& account)
{
    std::string folder = fields_.folder;
    if (folder.empty()) {
        message(NoFolderText, InputErrorTitle);
        return false;
    }
    if (folder.back() != FolderSeparator)
        folder.push_back(FolderSeparator);
    fields_.folder = folder;
    // Cutting would root the account in another folder than the one given.
    if (folder.size() > FtpAccount::MaxText) {
        message(LongFolderText, InputErrorTitle);
        return false;
    }
    if (!directoryExists(folder)) {
        message(MissingFolderText, InputErrorTitle);
        return false;
    }
    account.folder = std::move(folder);
    return true;
}

void FtpSettingsPanel::addOrUpdate()
{
    FtpAccount account;
    if (!takeUser(account) || !takePassword(account) || !takeFolder(account))
        return;
    account.rights = fields_.rights;

    FtpAccountTable& table = target_.accounts();
    const bool existed = table.containsName(account.user);
    if (!table.addOrUpdate(account)) {
        message(TableFullText, CreationFailedTitle);
        return;
    }
    position_ = table.indexOfName(account.user).value_or(0);
    fields_.arrowsEnabled = true;
    showAccount();
    if (existed)
        warnRelogin();
}

void FtpSettingsPanel::deleteAccount()
{
    const std::string user = lowerAscii(std::string_view(fields_.user).substr(0, MaxDeleteUser));
    if (user.empty()) {
        message(NoUserText, InputErrorTitle);
        return;
    }
    FtpAccountTable& table = target_.accounts();
    if (!table.removeByName(user)) {
        message(NotFoundText, DeleteFailedTitle);
        return;
    }
    if (table.count() == 0)
        fields_.arrowsEnabled = false;
    warnRelogin();
    position_ = 0;
    showAccount();
}

void FtpSettingsPanel::previous()
{
    const int count = target_.accounts().count();
    if (count == 0)
        return;
    position_ = position_ <= 0 ? count - 1 : std::min(position_, count) - 1;
    showAccount();
}

void FtpSettingsPanel::next()
{
    const int count = target_.accounts().count();
    if (count == 0)
        return;
    position_ = position_ < 0 ? 0 : (position_ + 1) % count;
    showAccount();
}

void FtpSettingsPanel::selectFolder()
{
    std::string folder = fields_.folder.empty() ? currentDirectory() : fields_.folder;
    if (chooser_.selectFolder(folder))
        fields_.folder = std::move(folder);
}

bool FtpSettingsPanel::applyGeneralSettings()
{
    // The numbers are checked first, so that a refused Apply changes nothing.
    const std::optional<std::uint16_t> port = parsePort(fields_.port);
    if (!port) {
        message(BadPortText, InputErrorTitle);
        return false;
    }
    const std::optional<int> cap = parseCount(fields_.perAddressCap, MaxPerAddressCap);
    if (!cap) {
        message(BadCapText, InputErrorTitle);
        return false;
    }
    const std::optional<int> loginLimit = parseCount(fields_.failedLoginLimit, LoginThrottle::MaxLimit);
    if (!loginLimit) {
        message(BadLoginLimitText, InputErrorTitle);
        return false;
    }
    FtpTlsSettings tls;
    if (!takeTls(*port, tls))
        return false;

    const std::string welcome = fields_.welcome.substr(0, MaxWelcomeField);
    target_.accounts().setWelcome(welcome);
    if (welcome.empty())
        message(NoWelcomeText, WarningTitle);

    if (*port != target_.port()) {
        target_.setPort(*port);
        message(PortChangeText, WarningTitle);
    }
    target_.setPerAddressCap(*cap);
    target_.setFailedLoginLimit(*loginLimit);
    target_.setAutostart(fields_.autoActivate);
    if (tls != target_.tlsSettings()) {
        target_.setTlsSettings(tls);
        if (target_.isActive())
            message(TlsChangeText, WarningTitle);
    }
    return true;
}

bool FtpSettingsPanel::takeTls(std::uint16_t controlPort, FtpTlsSettings& settings)
{
    // An empty field is no implicit port, as it was before the field existed.
    const std::optional<std::uint16_t> implicitPort =
        trimText(fields_.implicitPort).empty() ? std::optional<std::uint16_t>(0) : parsePort(fields_.implicitPort);
    if (!implicitPort) {
        message(BadImplicitPortText, InputErrorTitle);
        return false;
    }
    settings.mode = fields_.tlsMode;
    settings.implicitPort = *implicitPort;
    settings.anyDataConnection = fields_.tlsAnyData;
    // The implicit port is kept while TLS is off, unused until it is on.
    if (settings.implicitPort != 0) {
        std::vector<ServicePortUse> taken = target_.otherServicePorts();
        taken.push_back({ControlPortName, controlPort});
        for (const ServicePortUse& use : taken) {
            if (use.port != settings.implicitPort)
                continue;
            message(formatText(200, PortTakenFormat, static_cast<unsigned>(use.port), use.service.c_str()).c_str(),
                    InputErrorTitle);
            return false;
        }
    }
    // Switching TLS on needs a certificate that loads.
    std::string whyNot;
    if (settings.enabled() && !target_.tlsSettings().enabled() && !target_.certificateLoads(whyNot)) {
        TlsCertificatePanel::showNotLoaded(prompt_, whyNot, TlsCertificatePanel::ServiceTlsErrorTitle);
        return false;
    }
    return true;
}

} // namespace vantrel
