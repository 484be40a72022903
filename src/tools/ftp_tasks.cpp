// The FTP task commands: accounts, the general settings (welcome message,
// port, per-address limits, TLS) and the autostart switch. Each drives the
// "FTP Settings" window's logic with the words of the command line in its
// fields, so names, passwords, folders and rights are checked and corrected
// exactly as in the window.
#include "ftp/ftp_service.h"
#include "ftp/ftp_settings_panel.h"
#include "tools/task_context.h"

#include <ostream>

namespace vantrel {
namespace {

constexpr std::string_view NoRightsWord = "none";

// "File Read" is named file-read on the command line.
std::string rightName(const char* label)
{
    std::string name;
    for (const char* c = label; *c != '\0'; ++c)
        name += *c == ' ' ? '-' : static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    return name;
}

AccessRights allRights()
{
    AccessRights rights = AccessRights::None;
    for (const AccessRightLabel& right : AccessRightLabels)
        rights |= right.right;
    return rights;
}

std::string rightsText(AccessRights rights)
{
    std::string text;
    for (const AccessRightLabel& right : AccessRightLabels) {
        if (!hasRights(rights, right.right))
            continue;
        if (!text.empty())
            text += ',';
        text += rightName(right.label);
    }
    return text.empty() ? std::string(NoRightsWord) : text;
}

// A comma-separated list of right names, or "none".
bool parseRights(TaskContext& context, std::string_view text, AccessRights& rights)
{
    rights = AccessRights::None;
    if (text == NoRightsWord)
        return true;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view word = text.substr(0, comma);
        bool known = false;
        for (const AccessRightLabel& right : AccessRightLabels) {
            if (word == rightName(right.label)) {
                rights |= right.right;
                known = true;
            }
        }
        if (!known) {
            context.err << "vantrel-settings: unknown right \"" << word << "\"; the rights are "
                        << rightsText(allRights()) << " (or " << NoRightsWord << ")\n";
            return false;
        }
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return true;
}

// Shows the account of that stored name in the panel; false when none.
bool showAccountNamed(FtpSettingsPanel& panel, FtpService& service, const std::string& user)
{
    panel.show();
    for (int i = 0; i < service.accounts().count(); ++i, panel.next())
        if (panel.fields().user == user)
            return true;
    return false;
}

// Copies the options given into the panel's fields; false on a bad one.
bool takeOptions(TaskContext& context, FtpPanelFields& fields)
{
    if (const std::string* password = context.args.option("password"))
        fields.password = *password;
    if (const std::string* folder = context.args.option("folder"))
        fields.folder = context.absoluteFolder(*folder);
    if (const std::string* rights = context.args.option("rights"))
        return parseRights(context, *rights, fields.rights);
    return true;
}

TaskResult listAccounts(FtpService& service, TaskContext& context)
{
    FtpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    for (int i = 0; i < service.accounts().count(); ++i, panel.next()) {
        const FtpPanelFields& fields = panel.fields();
        context.out << fields.user << '\t' << fields.folder << '\t' << rightsText(fields.rights) << '\n';
    }
    return TaskResult::Unchanged;
}

TaskResult addAccount(FtpService& service, TaskContext& context)
{
    const std::string& user = context.args.operands[0];
    const std::string stored = FtpSettingsPanel::cleanedUser(user);
    if (!stored.empty() && service.accounts().containsName(stored)) {
        context.err << "vantrel-settings: the FTP account " << stored
                    << " exists already; change it with \"ftp-account set\"\n";
        return TaskResult::Refused;
    }
    FtpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    FtpPanelFields& fields = panel.fields();
    fields.user = user;
    fields.password.clear();
    fields.folder.clear();
    fields.rights = DefaultAccountRights;
    if (!takeOptions(context, fields))
        return TaskResult::Refused;
    panel.addOrUpdate();
    return context.prompt.refused() ? TaskResult::Refused : TaskResult::Changed;
}

TaskResult setAccount(FtpService& service, TaskContext& context)
{
    FtpSettingsPanel panel(service, context.prompt, context.prompt);
    const std::string stored = FtpSettingsPanel::cleanedUser(context.args.operands[0]);
    if (!showAccountNamed(panel, service, stored)) {
        context.err << "vantrel-settings: there is no FTP account " << stored << "\n";
        return TaskResult::Refused;
    }
    if (!takeOptions(context, panel.fields()))
        return TaskResult::Refused;
    panel.addOrUpdate();
    return context.prompt.refused() ? TaskResult::Refused : TaskResult::Changed;
}

TaskResult removeAccount(FtpService& service, TaskContext& context)
{
    FtpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    panel.fields().user = context.args.operands[0];
    panel.deleteAccount();
    return context.prompt.refused() ? TaskResult::Refused : TaskResult::Changed;
}

TaskResult showSite(FtpService& service, TaskContext& context)
{
    FtpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    context.out << "welcome\t" << panel.fields().welcome << '\n'
                << "port\t" << panel.fields().port << '\n'
                << "per-address-cap\t" << panel.fields().perAddressCap << '\n'
                << "failed-login-limit\t" << panel.fields().failedLoginLimit << '\n'
                << "autostart\t" << (panel.fields().autoActivate ? "on" : "off") << '\n';
    // A server without TLS shows what it always showed.
    if (service.tlsSettings() != FtpTlsSettings{})
        context.out << "tls\t" << tlsModeWord(panel.fields().tlsMode) << '\n'
                    << "implicit-port\t" << panel.fields().implicitPort << '\n'
                    << "tls-any-data\t" << (panel.fields().tlsAnyData ? "on" : "off") << '\n';
    return TaskResult::Unchanged;
}

// The welcome message, the port and the per-address limits go through
// Apply General Settings, which keeps the autostart switch that show() put
// in the fields.
TaskResult setSite(FtpService& service, TaskContext& context)
{
    FtpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    if (const std::string* welcome = context.args.option("welcome"))
        panel.fields().welcome = *welcome;
    if (const std::string* port = context.args.option("port"))
        panel.fields().port = *port;
    if (const std::string* cap = context.args.option("per-address-cap"))
        panel.fields().perAddressCap = *cap;
    if (const std::string* limit = context.args.option("failed-login-limit"))
        panel.fields().failedLoginLimit = *limit;
    if (const std::string* mode = context.args.option("tls")) {
        if (!parseTlsModeWord(*mode, panel.fields().tlsMode)) {
            context.err << "vantrel-settings: \"off\", \"on\" or \"require\" expected, not \"" << *mode << "\"\n";
            return TaskResult::Refused;
        }
    }
    if (const std::string* port = context.args.option("implicit-port"))
        panel.fields().implicitPort = *port;
    if (const std::string* anyData = context.args.option("tls-any-data")) {
        if (!parseSwitch(context, *anyData, panel.fields().tlsAnyData))
            return TaskResult::Refused;
    }
    if (!panel.applyGeneralSettings() || context.prompt.refused())
        return TaskResult::Refused;
    return TaskResult::Changed;
}

TaskResult switchAutostart(FtpService& service, TaskContext& context)
{
    bool on = false;
    if (!parseSwitch(context, context.args.operands[0], on))
        return TaskResult::Refused;
    service.setAutostart(on);
    return TaskResult::Changed;
}

constexpr TaskCommand<FtpService> Commands[] = {
    {"ftp-account", "list", 0, "", listAccounts},
    {"ftp-account", "add", 1, "password folder rights", addAccount},
    {"ftp-account", "set", 1, "password folder rights", setAccount},
    {"ftp-account", "remove", 1, "", removeAccount},
    {"ftp-site", "show", 0, "", showSite},
    {"ftp-site", "set", 0, "welcome port per-address-cap failed-login-limit tls implicit-port tls-any-data", setSite},
    {"autostart", "ftp", 1, "", switchAutostart},
};

} // namespace

std::span<const TaskCommand<FtpService>> ftpTaskCommands()
{
    return Commands;
}

} // namespace vantrel
