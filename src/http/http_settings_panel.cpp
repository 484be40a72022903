// The "HTTP Settings" window's steps. Each action checks the fields in a
// fixed order and stops at the first message, so that a rejected input
// leaves the site configuration and the service as they were. Reads and
// changes of the site happen under the site lock, so a request routed
// meanwhile sees either the old or wholly the new values.
#include "http/http_settings_panel.h"

#include "foundation/critical_lock.h"
#include "foundation/directory_scan.h"
#include "foundation/file_system.h"
#include "foundation/service_control.h"
#include "foundation/text.h"
#include "http/http_service.h"
#include "http/http_site_config.h"

#include <algorithm>

namespace vantrel {

namespace {

constexpr char MapsCaption[] = "Domain Maps (%d of %d --- %d max)";
constexpr char NoMapCaption[] = "Domain Maps (0 of 0 --- %d max)";

constexpr char InputErrorTitle[] = "Input Error";
constexpr char ErrorTitle[] = "Error";
constexpr char ApplyChangesTitle[] = "Apply Changes";

constexpr char MissingFolderText[] = "The 'folder' given does not exist.";
constexpr char BadMapText[] = "Incorrect folder path or domain.";
constexpr char MapFailedText[] = "Failed to create domain map.\nYou may of reached the 'allowable' domain map limit.";
constexpr char NoDomainText[] = "Please enter a domain.";
constexpr char UnknownDomainText[] = "Domain does not exist.";
constexpr char BadDefaultFolderText[] = "Incorrect default folder path.";
constexpr char BadCapText[] = "No valid 'connections per address' given (0 to 1000, 0 for no cap).";
constexpr char HttpsPortIsHttpText[] = "The HTTPS port must differ from the HTTP port.";
constexpr char HttpsPortTakenText[] = "The HTTPS port is already used by another service of this program.";
constexpr char PortChangeText[] = "You must re-activate the HTTP server for the\nport changes to take effect.";

constexpr char SchemePrefix[] = "http://";
// How much of each general field is read, as the window's buffers allowed.
constexpr std::size_t MaxDefaultFolderField = 260;
constexpr std::size_t MaxDefaultPageField = 260;
constexpr std::size_t MaxCaptionLength = 100;

PromptIcon iconFor(std::string_view title)
{
    if (title == InputErrorTitle)
        return PromptIcon::Warning;
    return title == ErrorTitle ? PromptIcon::Error : PromptIcon::Information;
}

std::string leading(std::string_view text, std::size_t count)
{
    return std::string(text.substr(0, count));
}

// A domain as typed in a browser's address line becomes a domain map key.
std::string domainFromField(std::string_view field)
{
    std::string domain = lowerAscii(field.substr(0, HttpSiteConfig::MaxDomainLength));
    for (auto at = domain.find(SchemePrefix); at != std::string::npos; at = domain.find(SchemePrefix))
        domain.erase(at, sizeof SchemePrefix - 1);
    std::erase(domain, ' ');
    return domain;
}

} // namespace

HttpSettingsPanel::HttpSettingsPanel(HttpPanelTarget& target, MessagePrompt& prompt, FolderChooser& chooser)
    : target_(target), prompt_(prompt), chooser_(chooser)
{
}

void HttpSettingsPanel::show()
{
    HttpSiteConfig& site = target_.site();
    {
        LockGuard guard(site.lock());
        fields_.defaultFolder = site.defaultFolder();
        fields_.adminPassword = site.adminPassword();
        fields_.adminUrl = site.adminUrl();
        fields_.defaultPage = site.defaultPage();
        fields_.folderView = site.folderView() ? FolderViewOn : FolderViewOff;
        showMap();
        fields_.arrowsEnabled = site.domainMapCount() > 0;
        fields_.httpsRedirect = site.redirectToHttps();
        fields_.logsRequireTls = site.logsRequireTls();
    }
    fields_.port = target_.port();
    fields_.perAddressCap = target_.perAddressCap();
    fields_.autoActivate = target_.autostart();
    fields_.httpsPort = target_.httpsPort();
}

void HttpSettingsPanel::showMap()
{
    const HttpSiteConfig& site = target_.site();
    LockGuard guard(site.lock());
    const int count = site.domainMapCount();
    if (current_ >= 0 && current_ < count) {
        HttpDomainMap map = site.domainMapAt(current_);
        fields_.caption = formatText(MaxCaptionLength, MapsCaption, current_ + 1, count, site.maxDomainMaps());
        fields_.domain = std::move(map.domain);
        fields_.folder = std::move(map.folder);
        return;
    }
    fields_.caption = formatText(MaxCaptionLength, NoMapCaption, site.maxDomainMaps());
    fields_.domain.clear();
    fields_.folder.clear();
}

void HttpSettingsPanel::refreshAdminUrl()
{
    fields_.adminUrl = target_.site().adminUrl();
}

void HttpSettingsPanel::queue(const char* text, const char* title)
{
    queued_.push_back({text, title});
}

void HttpSettingsPanel::showQueued()
{
    std::vector<Message> messages;
    messages.swap(queued_);
    for (const Message& message : messages)
        prompt_.show(message.text, message.title, PromptButtons::Ok, iconFor(message.title));
}

void HttpSettingsPanel::addOrUpdate()
{
    const std::string folder = leading(fields_.folder, HttpSiteConfig::MaxFolderLength);
    const std::string domain = domainFromField(fields_.domain);
    if (!directoryExists(folder))
        queue(MissingFolderText, InputErrorTitle);
    else if (domain.empty() || folder.size() <= 1)
        queue(BadMapText, InputErrorTitle);
    else {
        HttpSiteConfig& site = target_.site();
        LockGuard guard(site.lock());
        const bool known = site.hasDomainMap(domain);
        if (!site.addDomainMap(domain, folder)) {
            queue(MapFailedText, ErrorTitle);
        } else {
            if (!known)
                current_ = site.domainMapCount() - 1;
            fields_.arrowsEnabled = true;
            showMap();
            refreshAdminUrl();
        }
    }
    showQueued();
}

void HttpSettingsPanel::deleteMap()
{
    // Read as far as Add/Update reads, so that every key it can store can
    // also be deleted.
    const std::string domain = leading(fields_.domain, HttpSiteConfig::MaxDomainLength);
    if (domain.empty())
        queue(NoDomainText, InputErrorTitle);
    else {
        HttpSiteConfig& site = target_.site();
        LockGuard guard(site.lock());
        if (!site.removeDomainMap(domain)) {
            queue(UnknownDomainText, ErrorTitle);
        } else {
            if (site.domainMapCount() == 0)
                fields_.arrowsEnabled = false;
            current_ = 0;
            showMap();
            refreshAdminUrl();
        }
    }
    showQueued();
}

void HttpSettingsPanel::previous()
{
    const HttpSiteConfig& site = target_.site();
    LockGuard guard(site.lock());
    const int count = site.domainMapCount();
    if (count > 0)
        current_ = current_ == 0 ? count - 1 : current_ - 1;
    showMap();
}

void HttpSettingsPanel::next()
{
    const HttpSiteConfig& site = target_.site();
    LockGuard guard(site.lock());
    const int count = site.domainMapCount();
    if (count > 0)
        current_ = (current_ + 1) % count;
    showMap();
}

void HttpSettingsPanel::toggleFolderView()
{
    fields_.folderView = fields_.folderView == FolderViewOn ? FolderViewOff : FolderViewOn;
}

void HttpSettingsPanel::chooseFolder(std::string& field)
{
    std::string folder = field.empty() ? currentDirectory() : field;
    if (chooser_.selectFolder(folder))
        field = std::move(folder);
}

void HttpSettingsPanel::selectFolder()
{
    chooseFolder(fields_.folder);
}

void HttpSettingsPanel::selectDefaultFolder()
{
    chooseFolder(fields_.defaultFolder);
}

const char* HttpSettingsPanel::httpsPortRefusal() const
{
    if (fields_.httpsPort == 0)
        return nullptr;
    if (fields_.httpsPort == fields_.port)
        return HttpsPortIsHttpText;
    for (const ServicePortUse& use : target_.otherServicePorts())
        if (use.port == fields_.httpsPort)
            return HttpsPortTakenText;
    return nullptr;
}

bool HttpSettingsPanel::applyGeneralSettings()
{
    const std::string folder = leading(fields_.defaultFolder, MaxDefaultFolderField);
    if (!directoryExists(folder)) {
        queue(MissingFolderText, InputErrorTitle);
        showQueued();
        return false;
    }
    if (fields_.perAddressCap < 0 || fields_.perAddressCap > MaxPerAddressCap) {
        queue(BadCapText, InputErrorTitle);
        showQueued();
        return false;
    }
    if (const char* refusal = httpsPortRefusal()) {
        queue(refusal, InputErrorTitle);
        showQueued();
        return false;
    }
    {
        HttpSiteConfig& site = target_.site();
        LockGuard guard(site.lock());
        // A one-character folder (such as "/") is refused, but the other
        // general settings still apply.
        if (folder.size() > 1)
            site.setDefaultFolder(folder);
        else
            queue(BadDefaultFolderText, InputErrorTitle);
        site.setDefaultPage(leading(fields_.defaultPage, MaxDefaultPageField));
        site.setAdminPassword(leading(fields_.adminPassword, MaxPasswordField));
        site.setFolderView(fields_.folderView == FolderViewOn);
        site.setRedirectToHttps(fields_.httpsRedirect);
        site.setLogsRequireTls(fields_.logsRequireTls);
    }
    showQueued();
    if (fields_.port != target_.port() || fields_.httpsPort != target_.httpsPort()) {
        target_.setPort(fields_.port);
        target_.setHttpsPort(fields_.httpsPort);
        queue(PortChangeText, ApplyChangesTitle);
        showQueued();
    }
    target_.setPerAddressCap(fields_.perAddressCap);
    target_.setAutostart(fields_.autoActivate);
    return true;
}

} // namespace vantrel
