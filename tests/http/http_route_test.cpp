// Routing against a temporary site: default pages, redirects, folder view,
// status pages, If-Modified-Since, request paths and the log area.
#include "http/http_response.h"
#include "http/http_site_config.h"
#include "http/http_status_pages.h"
#include "http_test_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::TestWorkFolder;

struct Answer {
    ResponseKind kind;
    std::string status;   // the status line
    std::string location; // of a redirect
    std::string body;
    std::string header;
};

struct RouteCase {
    const char* url;
    const char* host;
    ResponseKind kind;
    const char* status;
    const char* bodyOrLocation; // a redirect's Location, else the body
};

std::string lastModified(const Answer& answer)
{
    const auto at = answer.header.find("Last-Modified: ") + 15;
    return answer.header.substr(at, answer.header.find("\r\n", at) - at);
}

constexpr char Ok[] = "HTTP/1.1 200 OK";
constexpr char Moved[] = "HTTP/1.1 301 Moved Permanently";
constexpr char Missing[] = "HTTP/1.1 404 OK";
constexpr char Bad[] = "HTTP/1.1 400 OK";

class HttpRouteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureErrorPages();
        folder.write("site/Index.html", "home");
        folder.write("site/Docs/Readme.TXT", "readme");
        folder.write("site/withindex/index.html", "with index");
        folder.write("site/noindex/a.txt", "a");
        folder.write("site/c.html", "c");
        folder.write("site/a/b.html", "b");
        folder.write("site/xxx", "device");
        folder.write("site/my page.html", "my page");
        folder.write("site/my%41.html", "my41");
        folder.write("site/Page.html", "page");
        folder.write("site/pic.gif", "GIF89a");
        folder.write("site/adminab/x", "site x");
        folder.write("shop/index.html", "shop home");
        folder.write("logs/httplog_0.txt", "log line\r\n");
        // Absolute, with "/" as the operator may type it.
        site.setDefaultFolder((folder.root() / "site").string() + "/");
        ASSERT_TRUE(site.addDomainMap("Shop.Example.ORG", (folder.root() / "shop").string()));
    }

    Answer get(const std::string& url, const std::string& host = "a", const std::string& since = "")
    {
        auto response = site.route(url, host, since);
        Answer answer{response->kind(), {}, {}, {}, response->header()};
        answer.status = answer.header.substr(0, answer.header.find("\r\n"));
        if (const auto at = answer.header.find("Location: "); at != std::string::npos)
            answer.location = answer.header.substr(at + 10, answer.header.find("\r\n", at) - at - 10);
        char chunk[HttpResponse::BodyChunk];
        for (std::uint64_t offset = 0;; offset += sizeof chunk) {
            const std::size_t n = response->nextBodyChunk(chunk, sizeof chunk, offset);
            if (n == 0)
                break;
            answer.body.append(chunk, n);
        }
        return answer;
    }

    void check(const std::vector<RouteCase>& cases)
    {
        for (const auto& c : cases) {
            const Answer answer = get(c.url, c.host);
            EXPECT_EQ(answer.kind, c.kind) << c.url << " for " << c.host;
            EXPECT_EQ(answer.status, c.status) << c.url << " for " << c.host;
            if (c.kind == ResponseKind::Redirect) {
                EXPECT_EQ(answer.location, c.bodyOrLocation) << c.url;
            } else if (c.bodyOrLocation != nullptr) {
                EXPECT_EQ(answer.body, c.bodyOrLocation) << c.url;
            }
        }
    }

    TestWorkFolder folder;
    HttpSiteConfig site;
};

TEST_F(HttpRouteTest, FilesDefaultPagesAndPaths)
{
    check({
        {"/", "a", ResponseKind::HtmlFile, Ok, "home"},
        {"", "a", ResponseKind::HtmlFile, Ok, "home"},
        {"/Docs/Readme.TXT", "a", ResponseKind::TextFile, Ok, "readme"},
        {"/PAGE.HTML", "a", ResponseKind::HtmlFile, Ok, "page"},
        {"/withindex/", "a", ResponseKind::HtmlFile, Ok, "with index"},
        {"/a/b/../../../c.html", "a", ResponseKind::HtmlFile, Ok, "c"},
        {"/a/./b.html", "a", ResponseKind::HtmlFile, Ok, "b"},
        {"/.hidden", "a", ResponseKind::HtmlFile, Ok, "home"},
        {"/con", "a", ResponseKind::OtherFile, Ok, "device"},
        {"/my%20page.html", "a", ResponseKind::HtmlFile, Ok, "my page"},
        {"/my%41.html", "a", ResponseKind::HtmlFile, Ok, "my41"},
        {"/page.html?x=1", "a", ResponseKind::NotFound, Missing, nullptr},
        {"/pic.gif", "a", ResponseKind::ImageFile, Ok, "GIF89a"},
        {"/missing.gif", "a", ResponseKind::NotFound, Missing, nullptr},
        {"http://a/c.html", "a", ResponseKind::HtmlFile, Ok, "home"},
    });
}

TEST_F(HttpRouteTest, HostileTargetsStayInsideTheSite)
{
    folder.write("secret.txt", "secret");
    folder.write("logs/secret.txt", "secret");
    site.setFolderView(true);
    const char* targets[] = {
        "/../secret.txt",
        "/..\\secret.txt",
        "\\..\\secret.txt",
        "/a/../../secret.txt",
        "/%2e%2e/secret.txt",
        "/..%2fsecret.txt",
        "/....//secret.txt",
        "/.%20./secret.txt",
        "/admin/logfile/../../secret.txt",
        "/admin/logfile/..\\..\\secret.txt",
        "/admin/logfile/%2e%2e/secret.txt",
        "//../secret.txt",
        "/site/../../secret.txt",
        "../secret.txt",
        "secret.txt",
    };
    for (const char* target : targets) {
        const Answer answer = get(target);
        EXPECT_NE(answer.body, "secret") << target;
        EXPECT_EQ(answer.body.find("secret.txt</a>"), std::string::npos) << target;
    }
}

TEST_F(HttpRouteTest, HostChoosesTheSite)
{
    check({
        {"/", "Shop.Example.ORG:81", ResponseKind::HtmlFile, Ok, "shop home"},
        {"/", "shop.example.org", ResponseKind::HtmlFile, Ok, "shop home"},
        {"/", "sub.shop.example.org", ResponseKind::HtmlFile, Ok, "home"},
        {"/c.html", "shop.example.org", ResponseKind::NotFound, Missing, nullptr},
    });
}

TEST_F(HttpRouteTest, NoUsableHostOrTargetIsABadRequest)
{
    check({
        {"/", "", ResponseKind::BadRequest, Bad, nullptr},
        {"/withindex", "a\rLocation: http://evil/", ResponseKind::BadRequest, Bad, nullptr},
        {"/withindex", "a\nb", ResponseKind::BadRequest, Bad, nullptr},
        {"/withindex\r\nSet-Cookie:", "a", ResponseKind::BadRequest, Bad, nullptr},
        {"/withindex\x7f", "a", ResponseKind::BadRequest, Bad, nullptr},
        {"/withindex", "a\x7f", ResponseKind::BadRequest, Bad, nullptr},
    });
    EXPECT_EQ(get("/", std::string("a\0b", 3)).kind, ResponseKind::BadRequest);
}

TEST_F(HttpRouteTest, FolderWithoutSlashIsRedirectedWithHostAndTargetAsTheyCame)
{
    check({
        {"/withindex", "a", ResponseKind::Redirect, Moved, "http://a/withindex/"},
        {"/WithIndex", "Example.ORG:81", ResponseKind::Redirect, Moved, "http://Example.ORG:81/WithIndex/"},
        // Folder view off and no default page inside.
        {"/noindex", "a", ResponseKind::NotFound, Missing, nullptr},
        {"/noindex/", "a", ResponseKind::NotFound, Missing, nullptr},
    });
}

TEST_F(HttpRouteTest, FolderViewListsFoldersWithoutDefaultPage)
{
    site.setFolderView(true);
    check({
        {"/noindex/", "a", ResponseKind::FolderList, Ok, nullptr},
        {"/noindex", "a", ResponseKind::Redirect, Moved, "http://a/noindex/"},
        {"/withindex/", "a", ResponseKind::HtmlFile, Ok, "with index"},
        {"/missing/", "a", ResponseKind::NotFound, Missing, nullptr},
        {"/missing", "a", ResponseKind::NotFound, Missing, nullptr},
    });
    EXPECT_NE(get("/noindex/").body.find("<a href=\"a.txt\">a.txt</a>"), std::string::npos);
    // A target too long to list names an existing folder: 404.
    EXPECT_EQ(get("/noindex" + std::string(253, '/')).kind, ResponseKind::NotFound);
}

TEST_F(HttpRouteTest, WithoutDefaultPage)
{
    site.setDefaultPage("");
    check({
        {"/", "a", ResponseKind::NotFound, Missing, nullptr},
        {"/withindex", "a", ResponseKind::NotFound, Missing, nullptr},
    });
    site.setFolderView(true);
    check({
        {"/", "a", ResponseKind::FolderList, Ok, nullptr},
        {"/withindex/", "a", ResponseKind::FolderList, Ok, nullptr},
        {"/withindex", "a", ResponseKind::Redirect, Moved, "http://a/withindex/"},
        {"/c.html", "a", ResponseKind::HtmlFile, Ok, "c"},
    });
}

TEST_F(HttpRouteTest, ErrorPagesFallBackToBuiltInOnesOnceDeleted)
{
    folder.write("http/404notfound.html", "custom not found");
    EXPECT_EQ(get("/missing.html").body, "custom not found");
    std::filesystem::remove(folder.root() / "http/404notfound.html");
    std::filesystem::remove(folder.root() / "http/400badrequest.html");
    const Answer missing = get("/missing.html");
    EXPECT_EQ(missing.header, "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(missing.body, builtInPage(StatusPage::NotFound));
    const Answer bad = get("/", "");
    EXPECT_EQ(bad.header, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(bad.body, builtInPage(StatusPage::BadRequest));
}

TEST_F(HttpRouteTest, NotModifiedOnlyForAnExactEcho)
{
    const std::string modified = lastModified(get("/c.html"));

    const Answer echoed = get("/c.html", "a", modified);
    EXPECT_EQ(echoed.header, "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(echoed.kind, ResponseKind::HtmlFile);
    EXPECT_EQ(echoed.body, builtInPage(StatusPage::NotModified));
    EXPECT_EQ(get("/", "a", lastModified(get("/"))).status, "HTTP/1.1 304 Not Modified");

    std::string lower = modified;
    lower[0] = static_cast<char>(lower[0] + 32);
    EXPECT_EQ(get("/c.html", "a", lower).status, Ok);
    EXPECT_EQ(get("/c.html", "a", modified + " ").status, Ok);
    EXPECT_EQ(get("/c.html", "a", "Sat, 01 Jan 2000 00:00:00 GMT").status, Ok);
}

TEST_F(HttpRouteTest, LogAreaWithPasswordMatchedWithoutCase)
{
    site.setAdminPassword("Ab");
    const Answer listing = get("/adminab/logfile/");
    EXPECT_EQ(listing.kind, ResponseKind::AdminArea);
    EXPECT_EQ(listing.status, Ok);
    EXPECT_NE(listing.body.find("<a href=\"httplog_0.txt\">httplog_0.txt</a>"), std::string::npos);
    EXPECT_EQ(get("/ADMINAB/LOGFILE/").kind, ResponseKind::AdminArea);

    const Answer file = get("/AdminAB/LogFile/HttpLog_0.txt");
    EXPECT_EQ(file.kind, ResponseKind::AdminArea);
    EXPECT_EQ(file.header, "HTTP/1.1 200 OK\r\nServer: Vantrel Server 2.33 by Quorvell-Labs\r\n"
                           "Accept-Ranges: bytes\r\nContent-Type: text/plain\r\n"
                           "Content-Length: 10\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(file.body, "log line\r\n");

    const Answer redirect = get("/adminab/logfile");
    EXPECT_EQ(redirect.kind, ResponseKind::AdminArea);
    EXPECT_EQ(redirect.location, "http://a/adminab/logfile/");

    // ".." leaves the area for the ordinary site path \adminab\x.
    const Answer outside = get("/adminab/logfile/../x");
    EXPECT_EQ(outside.kind, ResponseKind::OtherFile);
    EXPECT_EQ(outside.body, "site x");
    EXPECT_EQ(get("/adminab/logfile/../../../etc/passwd").kind, ResponseKind::NotFound);
    // A missing name in the area is an ordinary, logged 404.
    EXPECT_EQ(get("/adminab/logfile/nothing.txt").kind, ResponseKind::NotFound);
    // Without the password the path is an ordinary site path.
    EXPECT_EQ(get("/admin/logfile/").kind, ResponseKind::NotFound);
}

TEST_F(HttpRouteTest, LogAreaIgnoresFolderViewAndDefaultPageAndEmptyPasswordOpensIt)
{
    folder.write("logs/index.html", "not a default page here");
    EXPECT_EQ(site.adminUrl(), "/admin/logfile/");
    const Answer listing = get("/admin/logfile/");
    EXPECT_EQ(listing.kind, ResponseKind::AdminArea);
    EXPECT_NE(listing.body.find("Contents of /admin/logfile/"), std::string::npos);

    const Answer first = get("/admin/logfile/httplog_0.txt");
    EXPECT_EQ(first.header.find("Date:"), std::string::npos);
    EXPECT_EQ(first.header.find("Last-Modified:"), std::string::npos);
}

} // namespace
} // namespace vantrel
