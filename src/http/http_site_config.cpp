// The site configuration's fields and the domain map table. Routing itself
// lives in http_router.cpp.
#include "http/http_site_config.h"

#include "foundation/text.h"

#include <algorithm>

namespace vantrel {

namespace {

constexpr char AdminHead[] = "\\admin";
constexpr char AdminTail[] = "\\logfile";

// Folder paths are kept with "\" and without a trailing "\".
std::string cleanFolder(std::string_view folder)
{
    std::string out(folder.substr(0, HttpSiteConfig::MaxFolderLength));
    std::replace(out.begin(), out.end(), '/', '\\');
    if (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

std::string domainKey(std::string_view domain)
{
    std::string key = lowerAscii(domain.substr(0, HttpSiteConfig::MaxDomainLength));
    if (const auto colon = key.find(':'); colon != std::string::npos)
        key.resize(colon);
    std::erase(key, ' ');
    return key;
}

} // namespace

HttpSiteConfig::HttpSiteConfig(int maxDomainMaps) : maxDomainMaps_(maxDomainMaps) {}

void HttpSiteConfig::setDefaultFolder(std::string_view folder)
{
    LockGuard guard(lock_);
    defaultFolder_ = cleanFolder(folder);
}

std::string HttpSiteConfig::defaultFolder() const
{
    LockGuard guard(lock_);
    return defaultFolder_;
}

void HttpSiteConfig::setDefaultPage(std::string_view page)
{
    LockGuard guard(lock_);
    defaultPage_ = std::string(page.substr(0, MaxPageLength));
}

std::string HttpSiteConfig::defaultPage() const
{
    LockGuard guard(lock_);
    return defaultPage_;
}

void HttpSiteConfig::setAdminPassword(std::string_view password)
{
    LockGuard guard(lock_);
    adminPassword_ = std::string(password.substr(0, MaxPasswordLength));
    adminPrefix_ = std::string(AdminHead) + adminPassword_ + AdminTail;
    adminPrefix_.resize(std::min(adminPrefix_.size(), MaxAdminPrefixLength));
}

std::string HttpSiteConfig::adminPassword() const
{
    LockGuard guard(lock_);
    return adminPassword_;
}

void HttpSiteConfig::setRedirectToHttps(bool on)
{
    LockGuard guard(lock_);
    redirectToHttps_ = on;
}

bool HttpSiteConfig::redirectToHttps() const
{
    LockGuard guard(lock_);
    return redirectToHttps_;
}

void HttpSiteConfig::setLogsRequireTls(bool on)
{
    LockGuard guard(lock_);
    logsRequireTls_ = on;
}

bool HttpSiteConfig::logsRequireTls() const
{
    LockGuard guard(lock_);
    return logsRequireTls_;
}

void HttpSiteConfig::setLiveHttpsPort(std::uint16_t port)
{
    LockGuard guard(lock_);
    liveHttpsPort_ = port;
}

std::uint16_t HttpSiteConfig::httpsRedirectPort() const
{
    LockGuard guard(lock_);
    return redirectToHttps_ ? liveHttpsPort_ : 0;
}

std::string HttpSiteConfig::adminPrefix() const
{
    LockGuard guard(lock_);
    return adminPrefix_;
}

std::string HttpSiteConfig::adminUrl() const
{
    LockGuard guard(lock_);
    return formatText(MaxAdminPrefixLength + 2, "/admin%s/logfile/", adminPassword_.c_str());
}

void HttpSiteConfig::setFolderView(bool on)
{
    LockGuard guard(lock_);
    folderView_ = on;
}

bool HttpSiteConfig::folderView() const
{
    LockGuard guard(lock_);
    return folderView_;
}

bool HttpSiteConfig::addDomainMap(std::string_view domain, std::string_view folder)
{
    LockGuard guard(lock_);
    const std::string key = domainKey(domain);
    if (!domainMaps_.hasKey(key) && domainMaps_.count() >= maxDomainMaps_)
        return false;
    const std::string path = cleanFolder(folder);
    domainMaps_.setData(key, path.data(), static_cast<std::int32_t>(path.size()));
    return true;
}

bool HttpSiteConfig::removeDomainMap(std::string_view domain)
{
    LockGuard guard(lock_);
    return domainMaps_.removeKey(domain);
}

bool HttpSiteConfig::hasDomainMap(std::string_view domain) const
{
    LockGuard guard(lock_);
    return domainMaps_.hasKey(domain);
}

int HttpSiteConfig::domainMapCount() const
{
    LockGuard guard(lock_);
    return domainMaps_.count();
}

HttpDomainMap HttpSiteConfig::domainMapAt(int index) const
{
    LockGuard guard(lock_);
    HttpDomainMap map;
    if (index < 0 || index >= domainMaps_.count())
        return map;
    char folder[MaxFolderLength + 1];
    const std::size_t length = domainMaps_.dataAt(index, folder, MaxFolderLength);
    map.domain = domainMaps_.nameAt(index);
    map.folder.assign(folder, std::min(length, MaxFolderLength));
    return map;
}

std::string HttpSiteConfig::lookupDomain(std::string_view hostKey) const
{
    LockGuard guard(lock_);
    if (!domainMaps_.hasKey(hostKey))
        return {};
    char folder[MaxFolderLength + 1];
    const std::size_t length = domainMaps_.getData(hostKey, folder, MaxFolderLength);
    return std::string(folder, std::min(length, MaxFolderLength));
}

bool HttpSiteConfig::loadDomainMaps(std::string_view path)
{
    SettingsStore loaded;
    const SettingsLoad result = loaded.loadFile(path);
    if (result == SettingsLoad::Missing)
        return false;
    // A damaged file still gives the maps read before the damage.
    while (loaded.count() > maxDomainMaps_)
        loaded.removeAt(maxDomainMaps_);
    LockGuard guard(lock_);
    domainMaps_ = std::move(loaded);
    return result == SettingsLoad::Loaded;
}

bool HttpSiteConfig::saveDomainMaps(std::string_view path) const
{
    LockGuard guard(lock_);
    return domainMaps_.save(path);
}

} // namespace vantrel
