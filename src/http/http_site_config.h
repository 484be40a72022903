// HttpSiteConfig: what every HTTP session shares - the domain maps that
// choose a site folder by the request's Host, the default folder, the
// default page, the folder view switch, the password of the log area and
// the HTTPS rules (the plain port's redirect, TLS for the log area).
// One lock (the site lock) guards all of it; routing copies what it needs
// under the lock and reads the disk after, so a change from the settings
// panel applies to the next request routed. The lock is recursive: the
// panel may hold it around a sequence of reads and changes with
// LockGuard(site.lock()).
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/root_folder_cache.h"
#include "foundation/settings_store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

class HttpResponse;

// The connection a request came over: routing differs for HTTPS only in
// the scheme of its redirects and in the log area's TLS rule.
enum class HttpChannel {
    Plain,
    Tls
};

struct HttpDomainMap {
    std::string domain; // lower case, no space, no colon
    std::string folder; // "\" separators, no trailing "\"
};

class HttpSiteConfig final {
public:
    static constexpr int DefaultMaxDomainMaps = 200;
    static constexpr std::size_t MaxFolderLength = 256;
    static constexpr std::size_t MaxPageLength = 256;
    static constexpr std::size_t MaxDomainLength = 256;
    static constexpr std::size_t MaxPasswordLength = 24;
    static constexpr std::size_t MaxAdminPrefixLength = 49;
    static constexpr char InitialDefaultPage[] = "index.html";
    // Where the log area is served from, relative to the working directory.
    static constexpr char LogFolder[] = "logs";

    explicit HttpSiteConfig(int maxDomainMaps = DefaultMaxDomainMaps);
    HttpSiteConfig(const HttpSiteConfig&) = delete;
    HttpSiteConfig& operator=(const HttpSiteConfig&) = delete;

    // At most 256 characters; "/" becomes "\", one trailing "\" is removed.
    void setDefaultFolder(std::string_view folder);
    std::string defaultFolder() const;
    // At most 256 characters, as given.
    void setDefaultPage(std::string_view page);
    std::string defaultPage() const;
    // At most 24 characters; rebuilds the log area's path prefix.
    void setAdminPassword(std::string_view password);
    std::string adminPassword() const;
    // "\admin" + password + "\logfile".
    std::string adminPrefix() const;
    // The address of the log area as shown to the operator: "/admin%s/logfile/".
    std::string adminUrl() const;
    void setFolderView(bool on);
    bool folderView() const;

    // The HTTPS rules, both off by default: the plain port answers every
    // request with a redirect to the HTTPS port (while that port listens),
    // and the log area answers 403 over plain HTTP.
    void setRedirectToHttps(bool on);
    bool redirectToHttps() const;
    void setLogsRequireTls(bool on);
    bool logsRequireTls() const;
    // The port the HTTPS listener is bound to, 0 while it is not: the
    // service sets it on activation, so that redirects name the port that
    // really answers.
    void setLiveHttpsPort(std::uint16_t port);
    // The port the plain port redirects to: the live HTTPS port while the
    // redirect is on, otherwise 0.
    std::uint16_t httpsRedirectPort() const;

    // Key: domain cut to 256 characters, lower-cased, cut at its first ":",
    // spaces removed. Replaces the folder of an existing key in place,
    // appends otherwise; false when the table is full and the key is new.
    [[nodiscard]] bool addDomainMap(std::string_view domain, std::string_view folder);
    // Exact name, no normalising; false when there is no such record.
    bool removeDomainMap(std::string_view domain);
    bool hasDomainMap(std::string_view domain) const;
    int domainMapCount() const;
    // An empty map for an index out of range.
    HttpDomainMap domainMapAt(int index) const;
    int maxDomainMaps() const { return maxDomainMaps_; }
    // The folder mapped to exactly hostKey (at most 256 characters), or ""
    // when there is none.
    std::string lookupDomain(std::string_view hostKey) const;

    // The domain maps file: load keeps the first maxDomainMaps records; a
    // damaged file (false) gives those read before the damage, a missing
    // one (false) leaves the table as it was.
    [[nodiscard]] bool loadDomainMaps(std::string_view path);
    [[nodiscard]] bool saveDomainMaps(std::string_view path) const;

    // Maps one request to its prepared answer; never fails. Copies the
    // settings it needs under the site lock and opens files and lists
    // folders after releasing it.
    std::unique_ptr<HttpResponse> route(std::string_view url, std::string_view host, std::string_view ifModifiedSince,
                                        HttpChannel channel = HttpChannel::Plain) const;

    CriticalLock& lock() const VT_THREAD_ANNOTATION(lock_returned(lock_)) { return lock_; }

private:
    mutable CriticalLock lock_;
    const int maxDomainMaps_;
    SettingsStore domainMaps_ VT_GUARDED_BY(lock_);
    bool folderView_ VT_GUARDED_BY(lock_) = false;
    std::string defaultFolder_ VT_GUARDED_BY(lock_);
    std::string defaultPage_ VT_GUARDED_BY(lock_) = InitialDefaultPage;
    std::string adminPassword_ VT_GUARDED_BY(lock_);
    std::string adminPrefix_ VT_GUARDED_BY(lock_) = "\\admin\\logfile";
    bool redirectToHttps_ VT_GUARDED_BY(lock_) = false;
    bool logsRequireTls_ VT_GUARDED_BY(lock_) = false;
    std::uint16_t liveHttpsPort_ VT_GUARDED_BY(lock_) = 0;
    // The site folders stay open between requests (it has a lock of its own).
    mutable RootFolderCache rootFolders_;
};

} // namespace vantrel
