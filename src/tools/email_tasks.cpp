// The mail task commands: accounts, the routing settings (mail TLS among
// them) and the autostart switch. Each drives the "Email Settings" window's logic with the words of
// the command line in its fields, so user names, sizes and every warning
// are the window's own.
#include "email/email_service.h"
#include "email/email_settings_panel.h"
#include "foundation/login_throttle.h"
#include "tools/task_context.h"

#include <ostream>
#include <utility>

namespace vantrel {
namespace {

// The attachment list window has no place on a command line.
class NoAttachmentInfo final : public AttachmentInfoWindow {
public:
    void open() override {}
};

// The window's logic over the service, with its messages on stderr.
struct Panel {
    Panel(EmailService& service, TaskContext& context) : panel(service, context.prompt, info) { panel.show(); }
    NoAttachmentInfo info;
    EmailSettingsPanel panel;
};

TaskResult outcome(const TaskContext& context)
{
    return context.prompt.refused() ? TaskResult::Refused : TaskResult::Changed;
}

TaskResult listAccounts(EmailService& service, TaskContext& context)
{
    Panel view(service, context);
    for (int i = 0; i < service.directory().accountCount(); ++i, view.panel.next()) {
        const EmailPanelFields& fields = view.panel.fields();
        context.out << fields.user << '\t' << fields.address << '\t' << fields.inboxStatus << '\n';
    }
    return TaskResult::Unchanged;
}

void takeOptions(const TaskContext& context, EmailPanelFields& fields)
{
    if (const std::string* address = context.args.option("address"))
        fields.address = *address;
    if (const std::string* password = context.args.option("password"))
        fields.password = *password;
}

TaskResult addAccount(EmailService& service, TaskContext& context)
{
    const std::string& user = context.args.operands[0];
    const std::string stored = EmailSettingsPanel::cleanedUser(user);
    if (!stored.empty() && service.directory().userExists(stored)) {
        context.err << "vantrel-settings: the mail account " << stored
                    << " exists already; change it with \"mail-account set\"\n";
        return TaskResult::Refused;
    }
    Panel view(service, context);
    EmailPanelFields& fields = view.panel.fields();
    fields.user = user;
    fields.address.clear();
    fields.password.clear();
    takeOptions(context, fields);
    view.panel.addOrUpdate();
    return outcome(context);
}

TaskResult setAccount(EmailService& service, TaskContext& context)
{
    const std::string stored = EmailSettingsPanel::cleanedUser(context.args.operands[0]);
    Panel view(service, context);
    bool found = false;
    for (int i = 0; i < service.directory().accountCount() && !found; ++i) {
        found = view.panel.fields().user == stored;
        if (!found)
            view.panel.next();
    }
    if (!found) {
        context.err << "vantrel-settings: there is no mail account " << stored << "\n";
        return TaskResult::Refused;
    }
    takeOptions(context, view.panel.fields());
    view.panel.addOrUpdate();
    return outcome(context);
}

TaskResult removeAccount(EmailService& service, TaskContext& context)
{
    Panel view(service, context);
    view.panel.fields().user = context.args.operands[0];
    view.panel.deleteAccount();
    return outcome(context);
}

TaskResult showRouting(EmailService& service, TaskContext& context)
{
    Panel view(service, context);
    const EmailPanelFields& fields = view.panel.fields();
    context.out << "local-domain\t" << fields.localDomain << '\n'
                << "relay-host\t" << fields.relayHost << '\n'
                << "relay-subnet\t" << fields.relaySubnet << '\n'
                << "catch-all\t" << fields.catchAllUser << '\n'
                << "pop3-port\t" << fields.popPort << '\n'
                << "max-email-size\t" << fields.maxEmailSizeKb << '\n'
                << "max-account-size\t" << fields.maxAccountSizeKb << '\n'
                << "banned-extensions\t" << fields.bannedExtensions << '\n'
                << "smtp-per-address-cap\t" << fields.smtpPerAddressCap << '\n'
                << "pop3-per-address-cap\t" << fields.popPerAddressCap << '\n'
                << "pop3-failed-login-limit\t" << fields.popFailedLoginLimit << '\n'
                << "autostart\t" << (fields.autoActivate ? "on" : "off") << '\n';
    // A server without mail TLS shows what it always showed.
    if (service.tlsSettings() != MailTlsSettings{})
        context.out << "tls\t" << tlsModeWord(fields.tlsMode) << '\n'
                    << "smtps-port\t" << fields.smtpsPort << '\n'
                    << "pop3s-port\t" << fields.pop3sPort << '\n'
                    << "relay-requires-tls\t" << (fields.relayRequiresTls ? "on" : "off") << '\n'
                    << "relay-host-requires-tls\t" << (fields.relayHostRequiresTls ? "on" : "off") << '\n';
    return TaskResult::Unchanged;
}

TaskResult setRouting(EmailService& service, TaskContext& context)
{
    Panel view(service, context);
    EmailPanelFields& fields = view.panel.fields();
    struct TextOption {
        std::string_view name;
        std::string EmailPanelFields::*field;
    };
    static constexpr TextOption TextOptions[] = {
        {"local-domain", &EmailPanelFields::localDomain},
        {"relay-host", &EmailPanelFields::relayHost},
        {"relay-subnet", &EmailPanelFields::relaySubnet},
        {"catch-all", &EmailPanelFields::catchAllUser},
        {"max-email-size", &EmailPanelFields::maxEmailSizeKb},
        {"max-account-size", &EmailPanelFields::maxAccountSizeKb},
        {"banned-extensions", &EmailPanelFields::bannedExtensions},
    };
    for (const TextOption& option : TextOptions)
        if (const std::string* value = context.args.option(option.name))
            fields.*option.field = *value;
    // The window reads a port field without digits as 0; a command line
    // that names no port is refused instead.
    if (const std::string* text = context.args.option("pop3-port")) {
        std::uint16_t port = 0;
        if (!parsePort(context, *text, port))
            return TaskResult::Refused;
        fields.popPort = std::to_string(port);
    }
    // The same for the limits: the window reads garbage as 0, which would
    // switch a limit off.
    struct CountOption {
        std::string_view name;
        std::string EmailPanelFields::*field;
        int maximum;
    };
    static constexpr CountOption CountOptions[] = {
        {"smtp-per-address-cap", &EmailPanelFields::smtpPerAddressCap, EmailSettingsPanel::MaxPerAddressCap},
        {"pop3-per-address-cap", &EmailPanelFields::popPerAddressCap, EmailSettingsPanel::MaxPerAddressCap},
        {"pop3-failed-login-limit", &EmailPanelFields::popFailedLoginLimit, LoginThrottle::MaxLimit},
    };
    for (const CountOption& option : CountOptions) {
        const std::string* text = context.args.option(option.name);
        int count = 0;
        if (text == nullptr)
            continue;
        if (!parseCount(context, *text, option.maximum, count))
            return TaskResult::Refused;
        fields.*option.field = std::to_string(count);
    }
    if (const std::string* mode = context.args.option("tls")) {
        if (!parseTlsModeWord(*mode, fields.tlsMode)) {
            context.err << "vantrel-settings: \"off\", \"on\" or \"require\" expected, not \"" << *mode << "\"\n";
            return TaskResult::Refused;
        }
    }
    for (const auto& [name, field] : {std::pair{"smtps-port", &EmailPanelFields::smtpsPort},
                                      std::pair{"pop3s-port", &EmailPanelFields::pop3sPort}}) {
        if (const std::string* text = context.args.option(name)) {
            std::uint16_t port = 0;
            if (!parsePort(context, *text, port))
                return TaskResult::Refused;
            fields.*field = std::to_string(port);
        }
    }
    for (const auto& [name, field] : {std::pair{"relay-requires-tls", &EmailPanelFields::relayRequiresTls},
                                      std::pair{"relay-host-requires-tls", &EmailPanelFields::relayHostRequiresTls}}) {
        if (const std::string* text = context.args.option(name)) {
            if (!parseSwitch(context, *text, fields.*field))
                return TaskResult::Refused;
        }
    }
    if (!view.panel.applyGeneralSettings())
        return TaskResult::Refused;
    return outcome(context);
}

TaskResult switchAutostart(EmailService& service, TaskContext& context)
{
    bool on = false;
    if (!parseSwitch(context, context.args.operands[0], on))
        return TaskResult::Refused;
    service.setAutostart(on);
    return TaskResult::Changed;
}

constexpr std::string_view RoutingOptions =
    "local-domain relay-host relay-subnet catch-all pop3-port max-email-size max-account-size banned-extensions "
    "smtp-per-address-cap pop3-per-address-cap pop3-failed-login-limit tls smtps-port pop3s-port relay-requires-tls "
    "relay-host-requires-tls";

constexpr TaskCommand<EmailService> Commands[] = {
    {"mail-account", "list", 0, "", listAccounts},
    {"mail-account", "add", 1, "address password", addAccount},
    {"mail-account", "set", 1, "address password", setAccount},
    {"mail-account", "remove", 1, "", removeAccount},
    {"mail-routing", "show", 0, "", showRouting},
    {"mail-routing", "set", 0, RoutingOptions, setRouting},
    {"autostart", "email", 1, "", switchAutostart},
};

} // namespace

std::span<const TaskCommand<EmailService>> emailTaskCommands()
{
    return Commands;
}

} // namespace vantrel
