// The "Email Settings" window's steps. Account actions report a problem and
// stop; Apply General Settings never stops: each value is corrected and
// stored, and its warning only tells the operator what happened.
#include "email/email_settings_panel.h"

#include "foundation/login_throttle.h"
#include "foundation/service_control.h"
#include "foundation/text.h"
#include "foundation/tls_certificate_panel.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <vector>

namespace vantrel {

namespace {

constexpr char AccountsCaption[] = "Email Accounts (%d of %d --- %d max)";
constexpr char NoAccountCaption[] = "Email Accounts (0 of 0 --- %d max)";
constexpr char InboxStatus[] = "%d emails, %d Kb used.";

constexpr char InputErrorTitle[] = "Input Error";
constexpr char WarningTitle[] = "Warning";
constexpr char ErrorTitle[] = "Error";

constexpr char MissingInputText[] = "Please enter a valid user, email address and password.";
constexpr char BadUserText[] = "The 'user' given may not contain '\\' or '/'.";
constexpr char SharedFilesText[] =
    "The 'user' given would share its files with another account: user names may not differ only in "
    "letter case or in '.' against blank.";
constexpr char ReloginText[] =
    "Any currently logged in users using this account will not be\naffected until they re-login.\n"
    "To force re-login you should De-Activate and Re-Activate the\nEmail server.";
constexpr char CreateFailedText[] = "Failed to create new account.\nYou may of reached the 'allowable' account limit.";
constexpr char SharedAddressText[] =
    "That email address appears in more than one account.\nOnly one account will recieve any emails sent to "
    "that address.";
constexpr char LastAccountText[] =
    "Cannot delete last account.\nThe server must have at least 1 account to be active.\n"
    "To delete the last account you must De-activate the server first.";
constexpr char DeleteFailedText[] = "Failed to delete account.";
constexpr char NoSubnetText[] =
    "There is no relay subnet supplied.\nThe relay subnet allows you to control which email connections\n"
    "can be relayed. Without this setting any incoming connection\noff the internet or within your LAN will "
    "be granted relaying\naccess. This can be a potentional security issue.";
constexpr char EmailSizeText[] =
    "The email size was less than the 1 Mb minumum.\nThe email size was increased to this value.";
constexpr char AccountSizeText[] =
    "The account size was less than double the email size.\nThe account size was increased to this value.";
constexpr char PopPortText[] =
    "Please note that the POP3 port change will not take effect\nuntil the Email Server has been restarted.";
constexpr char CatchAllRelayText[] =
    "Both the 'Catch-All' user and the SMTP Relay host are given.\nRelaying will be disabled.";
constexpr char NoCatchAllUserText[] = "The 'Catch-All' user does not exist";
constexpr char BadTlsPortFormat[] = "No valid '%s' given (0 for none).";
constexpr char PortTakenFormat[] = "The '%s' %u is already used by the %s.";
constexpr char SmtpsPortName[] = "SMTPS port";
constexpr char Pop3sPortName[] = "POP3S port";
constexpr char TlsChangeText[] =
    "Please note that the TLS change will not take effect\nuntil the Email Server has been restarted.";
constexpr std::size_t MessageLimit = 200;
constexpr std::size_t MaxAccountField = 99;
constexpr std::size_t MaxTextField = 2047;
constexpr std::int64_t MinEmailSizeKb = 1024;
constexpr std::int64_t KbBytes = 1024;
constexpr std::int64_t KbRounding = 512;
// These pairs would make the user's files collide with the mailbox files.
constexpr std::string_view ReservedPairs[] = {"_s", "_e"};
constexpr char ReservedReplacement[] = "xx";

PromptIcon iconFor(std::string_view title)
{
    return title == WarningTitle ? PromptIcon::Warning : PromptIcon::Error;
}

// The digits of a number field, blanks around them allowed; anything else
// reads as 0. Values above `cap` read as `cap`.
std::int64_t numberIn(std::string_view text, std::int64_t cap)
{
    text = trimText(text);
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = std::min(value * 10 + (c - '0'), cap);
    }
    return value;
}

// A TLS port field: digits, maybe with blanks around them; empty is 0 (no
// port), as it was before the field existed.
std::optional<std::uint16_t> tlsPortIn(std::string_view text)
{
    text = trimText(text);
    if (text.empty())
        return 0;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > std::numeric_limits<std::uint16_t>::max())
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::string accountUser(std::string_view text)
{
    std::string user = lowerAscii(text.substr(0, MaxAccountField));
    for (const std::string_view pair : ReservedPairs) {
        for (auto at = user.find(pair); at != std::string::npos; at = user.find(pair, at + pair.size()))
            user.replace(at, pair.size(), ReservedReplacement);
    }
    return user;
}

} // namespace

std::string AttachmentInfo::listText()
{
    return " " + std::string(MailDirectory::RecommendedBannedExtensions) + " ";
}

std::string EmailSettingsPanel::cleanedUser(std::string_view field)
{
    return accountUser(field);
}

EmailSettingsPanel::EmailSettingsPanel(EmailPanelTarget& target, MessagePrompt& prompt, AttachmentInfoWindow& info)
    : target_(target), prompt_(prompt), info_(info)
{
}

void EmailSettingsPanel::message(const char* text, const char* title)
{
    prompt_.show(text, title, PromptButtons::Ok, iconFor(title));
}

void EmailSettingsPanel::show()
{
    fillGeneral();
    showAccount();
    fields_.arrowsEnabled = target_.directory().accountCount() > 0;
    fields_.moreInfoLabel = MoreInfoLabel;
}

void EmailSettingsPanel::fillGeneral()
{
    const MailDirectory& directory = target_.directory();
    fields_.relaySubnet = directory.relaySubnet();
    fields_.localDomain = directory.localHostName();
    fields_.relayHost = directory.relayHost();
    fields_.maxEmailSizeKb = std::to_string(directory.maxEmailSize() / KbBytes);
    fields_.maxAccountSizeKb = std::to_string(directory.maxAccountSize() / KbBytes);
    fields_.popPort = std::to_string(target_.port());
    fields_.catchAllUser = directory.catchAllUser();
    fields_.bannedExtensions = directory.bannedExtensions();
    fields_.smtpPerAddressCap = std::to_string(target_.smtpPerAddressCap());
    fields_.popPerAddressCap = std::to_string(target_.popPerAddressCap());
    fields_.popFailedLoginLimit = std::to_string(target_.popFailedLoginLimit());
    fields_.autoActivate = target_.autostart();
    const MailTlsSettings tls = target_.tlsSettings();
    fields_.tlsMode = tls.mode;
    fields_.smtpsPort = std::to_string(tls.smtpsPort);
    fields_.pop3sPort = std::to_string(tls.pop3sPort);
    fields_.relayRequiresTls = tls.relayRequiresTls;
    fields_.relayHostRequiresTls = tls.relayHostRequiresTls;
}

void EmailSettingsPanel::showAccount()
{
    MailDirectory& directory = target_.directory();
    const int count = directory.accountCount();
    // The directory answers null for a position it does not hold.
    std::unique_ptr<MailboxTransaction> mailbox =
        position_ >= 0 && position_ < count ? directory.openMailboxAt(position_) : nullptr;
    if (mailbox) {
        fields_.caption = formatText(200, AccountsCaption, position_ + 1, count, directory.maxAccounts());
        fields_.address = mailbox->address();
        fields_.password = mailbox->password();
        fields_.user = mailbox->user();
        fields_.inboxStatus =
            formatText(200, InboxStatus, mailbox->messageSlotCount(),
                       static_cast<int>((static_cast<std::int64_t>(mailbox->storedSize()) + KbRounding) / KbBytes));
        directory.commitDelivery(std::move(mailbox));
        return;
    }
    fields_.caption = formatText(200, NoAccountCaption, directory.maxAccounts());
    fields_.user.clear();
    fields_.password.clear();
    fields_.address.clear();
    fields_.inboxStatus.clear();
}

void EmailSettingsPanel::addOrUpdate()
{
    const std::string address = lowerAscii(cutText(fields_.address, MaxAccountField));
    const std::string password = cutText(fields_.password, MaxAccountField);
    const std::string user = accountUser(fields_.user);

    MailDirectory& directory = target_.directory();
    const bool existed = directory.userExists(user);
    if (address.empty() || password.empty() || user.empty()) {
        message(MissingInputText, InputErrorTitle);
        return;
    }
    // The name becomes the name of the account's files in the "email"
    // folder; a separator would put them somewhere else.
    if (user.find_first_of("\\/") != std::string::npos) {
        message(BadUserText, InputErrorTitle);
        return;
    }
    if (directory.userFilesTaken(user)) {
        message(SharedFilesText, InputErrorTitle);
        return;
    }
    if (directory.addOrUpdateAccount(user, address, password)) {
        fields_.address = address;
        fields_.user = user;
        if (directory.accountCount() > 0)
            fields_.arrowsEnabled = true;
        if (target_.isActive() && existed)
            message(ReloginText, WarningTitle);
    } else {
        message(CreateFailedText, ErrorTitle);
    }
    if (directory.addressIsShared(address))
        message(SharedAddressText, WarningTitle);
    if (!existed)
        position_ = directory.accountCount() - 1;
    showAccount();
}

void EmailSettingsPanel::deleteAccount()
{
    MailDirectory& directory = target_.directory();
    if (directory.accountCount() == 1 && target_.isActive()) {
        message(LastAccountText, ErrorTitle);
        return;
    }
    // Stored names are lowercase; the field is taken as it stands.
    if (directory.removeAccount(cutText(fields_.user, MaxAccountField))) {
        if (directory.accountCount() == 0)
            fields_.arrowsEnabled = false;
    } else {
        message(DeleteFailedText, ErrorTitle);
    }
    position_ = 0;
    showAccount();
}

void EmailSettingsPanel::previous()
{
    const int count = target_.directory().accountCount();
    if (count == 0)
        return;
    position_ = position_ <= 0 ? count - 1 : std::min(position_, count) - 1;
    showAccount();
}

void EmailSettingsPanel::next()
{
    const int count = target_.directory().accountCount();
    if (count == 0)
        return;
    position_ = position_ < 0 ? 0 : (position_ + 1) % count;
    showAccount();
}

void EmailSettingsPanel::moreInfo()
{
    info_.open();
}

bool EmailSettingsPanel::takeTls(MailTlsSettings& settings)
{
    const std::optional<std::uint16_t> smtpsPort = tlsPortIn(fields_.smtpsPort);
    const std::optional<std::uint16_t> pop3sPort = tlsPortIn(fields_.pop3sPort);
    if (!smtpsPort || !pop3sPort) {
        message(formatText(MessageLimit, BadTlsPortFormat, smtpsPort ? Pop3sPortName : SmtpsPortName).c_str(),
                InputErrorTitle);
        return false;
    }
    settings.mode = fields_.tlsMode;
    settings.smtpsPort = *smtpsPort;
    settings.pop3sPort = *pop3sPort;
    settings.relayRequiresTls = fields_.relayRequiresTls;
    settings.relayHostRequiresTls = fields_.relayHostRequiresTls;
    // The implicit ports are kept while TLS is off, unused until it is on.
    // Neither may take a port of another service, of this one, or the other's.
    ServicePorts taken = target_.otherServicePorts();
    const auto popPort =
        static_cast<std::uint16_t>(numberIn(fields_.popPort, std::numeric_limits<std::uint16_t>::max()));
    taken.push_back({"SMTP server", target_.smtpPort()});
    taken.push_back({"POP3 server", popPort});
    const struct {
        const char* name;
        std::uint16_t port;
        const char* owner;
    } implicitPorts[] = {
        {SmtpsPortName, settings.smtpsPort, "SMTP server's implicit TLS port"},
        {Pop3sPortName, settings.pop3sPort, "POP3 server's implicit TLS port"},
    };
    for (const auto& implicitPort : implicitPorts) {
        if (implicitPort.port == 0)
            continue;
        for (const ServicePortUse& use : taken) {
            if (use.port != implicitPort.port)
                continue;
            message(formatText(MessageLimit, PortTakenFormat, implicitPort.name, static_cast<unsigned>(use.port),
                               use.service.c_str())
                        .c_str(),
                    InputErrorTitle);
            return false;
        }
        taken.push_back({implicitPort.owner, implicitPort.port});
    }
    // Switching TLS on needs a certificate that loads.
    std::string whyNot;
    if (settings.enabled() && !target_.tlsSettings().enabled() && !target_.certificateLoads(whyNot)) {
        TlsCertificatePanel::showNotLoaded(prompt_, whyNot, TlsCertificatePanel::ServiceTlsErrorTitle);
        return false;
    }
    return true;
}

bool EmailSettingsPanel::applyGeneralSettings()
{
    // The TLS fields are checked first, so that a refused Apply changes
    // nothing; unchanged ones are not checked at all.
    MailTlsSettings tls = target_.tlsSettings();
    const bool tlsChanged = fields_.tlsMode != tls.mode || fields_.smtpsPort != std::to_string(tls.smtpsPort) ||
                            fields_.pop3sPort != std::to_string(tls.pop3sPort) ||
                            fields_.relayRequiresTls != tls.relayRequiresTls ||
                            fields_.relayHostRequiresTls != tls.relayHostRequiresTls;
    if (tlsChanged && !takeTls(tls))
        return false;

    MailDirectory& directory = target_.directory();
    directory.setLocalDomain(lowerAscii(cutText(fields_.localDomain, MaxTextField)));

    const std::string relayHost = lowerAscii(cutText(fields_.relayHost, MaxTextField));
    directory.setRelayHost(relayHost);

    const std::string relaySubnet = lowerAscii(cutText(fields_.relaySubnet, MaxTextField));
    directory.setRelaySubnet(relaySubnet);
    if (relaySubnet.empty() && !relayHost.empty())
        message(NoSubnetText, WarningTitle);

    std::int64_t emailKb = numberIn(fields_.maxEmailSizeKb, MaxEmailSizeKb);
    if (emailKb < MinEmailSizeKb) {
        message(EmailSizeText, WarningTitle);
        emailKb = MinEmailSizeKb;
    }
    directory.setMaxEmailSize(static_cast<std::int32_t>(emailKb * KbBytes));

    std::int64_t accountBytes = numberIn(fields_.maxAccountSizeKb, MaxAccountSizeKb) * KbBytes;
    const std::int64_t leastAccountBytes = 2 * static_cast<std::int64_t>(directory.maxEmailSize());
    if (accountBytes < leastAccountBytes) {
        message(AccountSizeText, WarningTitle);
        accountBytes = leastAccountBytes;
    }
    directory.setMaxAccountSize(static_cast<std::int32_t>(accountBytes));

    const auto port = static_cast<std::uint16_t>(numberIn(fields_.popPort, std::numeric_limits<std::uint16_t>::max()));
    if (port != target_.port()) {
        target_.setPort(port);
        message(PopPortText, WarningTitle);
    }

    const std::string catchAllUser = lowerAscii(cutText(fields_.catchAllUser, MaxTextField));
    directory.setCatchAllUser(catchAllUser);
    if (!relayHost.empty() && !catchAllUser.empty())
        message(CatchAllRelayText, WarningTitle);
    if (!catchAllUser.empty() && !directory.userExists(directory.catchAllUser()))
        message(NoCatchAllUserText, WarningTitle);

    target_.setAutostart(fields_.autoActivate);
    directory.setBannedExtensions(lowerAscii(cutText(fields_.bannedExtensions, MaxTextField)));

    // Like the other number fields: no number reads as 0, a larger one as the top.
    target_.setSmtpPerAddressCap(static_cast<int>(numberIn(fields_.smtpPerAddressCap, MaxPerAddressCap)));
    target_.setPopPerAddressCap(static_cast<int>(numberIn(fields_.popPerAddressCap, MaxPerAddressCap)));
    target_.setPopFailedLoginLimit(static_cast<int>(numberIn(fields_.popFailedLoginLimit, LoginThrottle::MaxLimit)));

    if (tls != target_.tlsSettings()) {
        target_.setTlsSettings(tls);
        if (target_.isActive())
            message(TlsChangeText, WarningTitle);
    }
    return true;
}

} // namespace vantrel
