// Routing: from request target, Host and If-Modified-Since to a prepared
// response. The site folder is chosen by the Host's domain map (or the
// default folder); folder requests get the default page, a listing or a
// 404; a folder named without its slash is redirected to the form with it;
// the log area under the admin prefix is served from the "logs" folder
// (refused over plain HTTP when the log area requires TLS).
// Every file and folder is reached through a RootFolder of the site's
// folder, so that neither ".." nor a link leads out of the site.
#include "foundation/root_folder.h"
#include "foundation/text.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "http/http_site_config.h"

namespace vantrel {

namespace {

constexpr char RedirectFormat[] = "http://%s%s/";
// Over HTTPS a folder's redirect stays on HTTPS.
constexpr char SecureRedirectFormat[] = "https://%s%s/";
constexpr std::size_t MaxRedirectText = 8200;
constexpr std::size_t MaxSiteFolderLength = 256;

std::string hostKeyOf(std::string_view host)
{
    std::string key = lowerAscii(host.substr(0, HttpSiteConfig::MaxDomainLength));
    if (const auto colon = key.find(':'); colon != std::string::npos)
        key.resize(colon);
    return key;
}

bool endsWithBackslash(std::string_view text)
{
    return !text.empty() && text.back() == '\\';
}

// One request's view of the inputs, so each step below stays a few lines.
// `path` is below `root` and begins with "\".
struct RouteRequest {
    std::string_view url;
    std::string_view host;
    std::string_view ifModifiedSince;
    HttpChannel channel;
    const RootFolder& root;
    std::string path;
    bool admin = false;
    bool folderView = false;
    std::string defaultPage;
};

void checkDate(HttpResponse& response, const RouteRequest& request)
{
    if (request.ifModifiedSince.empty())
        return;
    std::string modified;
    if (response.lastModifiedText(modified) && modified == request.ifModifiedSince)
        response.prepareNotModified();
}

void redirect(HttpResponse& response, const RouteRequest& request)
{
    const std::string host(request.host);
    const std::string url(request.url);
    const char* format = request.channel == HttpChannel::Tls ? SecureRedirectFormat : RedirectFormat;
    response.prepareRedirect(formatText(MaxRedirectText, format, host.c_str(), url.c_str()));
}

void listOrNotFound(HttpResponse& response, const RouteRequest& request)
{
    if (!response.prepareFolderList(request.root, request.path, request.url))
        response.prepareNotFound();
}

void routeFolder(HttpResponse& response, const RouteRequest& request)
{
    if (!request.defaultPage.empty() && !request.admin) {
        if (response.prepareFile(request.root, request.path + request.defaultPage, 200)) {
            checkDate(response, request);
        } else if (!request.folderView) {
            response.prepareNotFound();
        } else {
            listOrNotFound(response, request);
        }
        return;
    }
    if (!request.folderView && !request.admin) {
        response.prepareNotFound();
        return;
    }
    listOrNotFound(response, request);
    if (request.admin && response.kind() == ResponseKind::FolderList)
        response.setKind(ResponseKind::AdminArea);
}

void routeName(HttpResponse& response, const RouteRequest& request)
{
    if (response.prepareFile(request.root, request.path, 200)) {
        checkDate(response, request);
        if (request.admin)
            response.setKind(ResponseKind::AdminArea);
        return;
    }
    if (!request.defaultPage.empty() && !request.admin) {
        if (response.prepareFile(request.root, request.path + "\\" + request.defaultPage, 200)) {
            redirect(response, request);
        } else if (request.folderView && request.root.isFolder(request.path)) {
            redirect(response, request);
        } else {
            response.prepareNotFound();
        }
        return;
    }
    if (!request.folderView && !request.admin) {
        response.prepareNotFound();
        return;
    }
    if (!response.prepareFolderList(request.root, request.path, request.url)) {
        response.prepareNotFound();
        return;
    }
    redirect(response, request);
    if (request.admin)
        response.setKind(ResponseKind::AdminArea);
}

} // namespace

std::unique_ptr<HttpResponse> HttpSiteConfig::route(std::string_view url, std::string_view host,
                                                    std::string_view ifModifiedSince, HttpChannel channel) const
{
    auto response = std::make_unique<HttpResponse>();
    std::string path;
    const bool whole = urlToPath(url, path);
    if (host.empty() || hasControlByte(host) || hasControlByte(url)) {
        response->prepareBadRequest();
        return response;
    }

    // The settings are copied under the site lock; the disk is read after
    // it is released, so a slow folder never holds up other sessions.
    std::string folder;
    bool admin = false;
    bool folderView = false;
    bool refuseLogArea = false;
    std::string defaultPage;
    {
        LockGuard guard(lock_);
        const std::size_t prefixLength = adminPrefix_.size();
        if (path.size() >= prefixLength &&
            equalsIgnoreCase(std::string_view(path).substr(0, prefixLength), adminPrefix_)) {
            folder = LogFolder;
            path.erase(0, prefixLength);
            admin = true;
            refuseLogArea = logsRequireTls_ && channel == HttpChannel::Plain;
        } else {
            const std::string mapped = lookupDomain(hostKeyOf(host));
            folder = mapped.empty() ? defaultFolder_ : mapped;
        }
        folderView = folderView_;
        defaultPage = defaultPage_;
    }
    if (refuseLogArea) {
        response->prepareForbidden();
        return response;
    }
    if (admin)
        response->setAdmin(true);

    // A path that would have to be cut names another file than the one
    // asked for; an empty folder is no site (not the disk's root).
    if (!whole || folder.empty() || (!admin && folder.size() + path.size() > MaxSiteFolderLength)) {
        response->prepareNotFound();
        return response;
    }
    const std::shared_ptr<const RootFolder> root = rootFolders_.open(folder);
    RouteRequest request{url,   host,       ifModifiedSince,       channel, *root, std::move(path),
                         admin, folderView, std::move(defaultPage)};
    if (endsWithBackslash(request.path))
        routeFolder(*response, request);
    else
        routeName(*response, request);
    return response;
}

} // namespace vantrel
