// The HTTP task commands: domain maps, the site's general settings (HTTPS
// included) and the autostart switch. Each drives the "HTTP Settings" window's logic with the
// words of the command line in its fields, so every check and correction is
// the window's own.
#include "http/http_service.h"
#include "http/http_settings_panel.h"
#include "tools/task_context.h"

#include <ostream>

namespace vantrel {
namespace {

TaskResult listDomains(HttpService& service, TaskContext& context)
{
    HttpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    for (int i = 0; i < service.site().domainMapCount(); ++i, panel.next())
        context.out << panel.fields().domain << '\t' << panel.fields().folder << '\n';
    return TaskResult::Unchanged;
}

TaskResult addDomain(HttpService& service, TaskContext& context)
{
    HttpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    panel.fields().domain = context.args.operands[0];
    panel.fields().folder = context.absoluteFolder(context.args.operands[1]);
    panel.addOrUpdate();
    return context.prompt.refused() ? TaskResult::Refused : TaskResult::Changed;
}

TaskResult removeDomain(HttpService& service, TaskContext& context)
{
    HttpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    panel.fields().domain = context.args.operands[0];
    panel.deleteMap();
    return context.prompt.refused() ? TaskResult::Refused : TaskResult::Changed;
}

const char* switchWord(bool on)
{
    return on ? "on" : "off";
}

TaskResult showSite(HttpService& service, TaskContext& context)
{
    HttpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    const HttpPanelFields& fields = panel.fields();
    context.out << "port\t" << fields.port << '\n'
                << "default-folder\t" << fields.defaultFolder << '\n'
                << "default-page\t" << fields.defaultPage << '\n'
                << "folder-view\t" << switchWord(fields.folderView == HttpSettingsPanel::FolderViewOn) << '\n'
                << "admin-url\t" << fields.adminUrl << '\n'
                << "per-address-cap\t" << fields.perAddressCap << '\n'
                << "https-port\t" << fields.httpsPort << '\n'
                << "https-redirect\t" << switchWord(fields.httpsRedirect) << '\n'
                << "logs-require-tls\t" << switchWord(fields.logsRequireTls) << '\n'
                << "autostart\t" << switchWord(fields.autoActivate) << '\n';
    return TaskResult::Unchanged;
}

TaskResult setSite(HttpService& service, TaskContext& context)
{
    HttpSettingsPanel panel(service, context.prompt, context.prompt);
    panel.show();
    HttpPanelFields& fields = panel.fields();
    if (const std::string* port = context.args.option("port")) {
        if (!parsePort(context, *port, fields.port))
            return TaskResult::Refused;
    }
    if (const std::string* port = context.args.option("https-port")) {
        if (!parsePort(context, *port, fields.httpsPort))
            return TaskResult::Refused;
    }
    if (const std::string* redirect = context.args.option("https-redirect")) {
        if (!parseSwitch(context, *redirect, fields.httpsRedirect))
            return TaskResult::Refused;
    }
    if (const std::string* require = context.args.option("logs-require-tls")) {
        if (!parseSwitch(context, *require, fields.logsRequireTls))
            return TaskResult::Refused;
    }
    if (const std::string* cap = context.args.option("per-address-cap")) {
        if (!parseCount(context, *cap, HttpSettingsPanel::MaxPerAddressCap, fields.perAddressCap))
            return TaskResult::Refused;
    }
    if (const std::string* folder = context.args.option("default-folder"))
        fields.defaultFolder = context.absoluteFolder(*folder);
    if (const std::string* page = context.args.option("default-page"))
        fields.defaultPage = *page;
    if (const std::string* password = context.args.option("admin-password"))
        fields.adminPassword = *password;
    if (const std::string* view = context.args.option("folder-view")) {
        bool on = false;
        if (!parseSwitch(context, *view, on))
            return TaskResult::Refused;
        if (on != (fields.folderView == HttpSettingsPanel::FolderViewOn))
            panel.toggleFolderView();
    }
    if (!panel.applyGeneralSettings() || context.prompt.refused())
        return TaskResult::Refused;
    return TaskResult::Changed;
}

TaskResult switchAutostart(HttpService& service, TaskContext& context)
{
    bool on = false;
    if (!parseSwitch(context, context.args.operands[0], on))
        return TaskResult::Refused;
    service.setAutostart(on);
    return TaskResult::Changed;
}

constexpr TaskCommand<HttpService> Commands[] = {
    {"http-domain", "list", 0, "", listDomains},
    {"http-domain", "add", 2, "", addDomain},
    {"http-domain", "remove", 1, "", removeDomain},
    {"http-site", "show", 0, "", showSite},
    {"http-site", "set", 0,
     "port default-folder default-page folder-view admin-password per-address-cap https-port https-redirect "
     "logs-require-tls",
     setSite},
    {"autostart", "http", 1, "", switchAutostart},
};

} // namespace

std::span<const TaskCommand<HttpService>> httpTaskCommands()
{
    return Commands;
}

} // namespace vantrel
