// Responses byte by byte: file headers with and without dates, the short
// status headers with their built-in pages, content types, body chunks and
// the folder listing page.
#include "http/http_content_type.h"
#include "http/http_folder_view.h"
#include "http/http_response.h"
#include "http/http_status_pages.h"
#include "http_test_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::TestWorkFolder;

constexpr std::time_t ModifiedSeconds = 2488265377; // 2048-11-06 08:49:37 UTC
constexpr char ModifiedText[] = "Fri, 06 Nov 2048 08:49:37 GMT";
constexpr char Server[] = "Server: Vantrel Server 2.33 by Quorvell-Labs\r\n";

// The seconds of the clock the server reads; std::time may lag it by a
// tick around the turn of a second.
std::time_t clockSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

std::string gmtText(std::time_t t)
{
    std::tm parts{};
    ::gmtime_r(&t, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

void setModified(const std::filesystem::path& path)
{
    const timespec times[2] = {{ModifiedSeconds, 0}, {ModifiedSeconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The header with its Date line checked against the clock and removed.
std::string withoutDate(const std::string& header, std::time_t before, std::time_t after)
{
    const auto at = header.find("Date: ");
    EXPECT_NE(at, std::string::npos);
    const auto end = header.find("\r\n", at);
    const std::string date = header.substr(at + 6, end - at - 6);
    EXPECT_TRUE(date == gmtText(before) || date == gmtText(after)) << date;
    return header.substr(0, at) + header.substr(end + 2);
}

std::string wholeBody(HttpResponse& response)
{
    std::string body;
    char chunk[HttpResponse::BodyChunk];
    for (std::uint64_t offset = 0;; offset += sizeof chunk) {
        const std::size_t n = response.nextBodyChunk(chunk, sizeof chunk, offset);
        if (n == 0)
            return body;
        EXPECT_LE(n, sizeof chunk);
        body.append(chunk, n);
    }
}

class HttpResponseTest : public ::testing::Test {
protected:
    TestWorkFolder folder;
};

TEST_F(HttpResponseTest, FileHeaderCarriesDatesTypeAndLength)
{
    folder.write("site/a.txt", "hello");
    setModified(folder.root() / "site/a.txt");
    HttpResponse response;
    const std::time_t before = clockSeconds();
    ASSERT_TRUE(response.prepareFile("site\\A.TXT", 200));
    const std::time_t after = clockSeconds();
    EXPECT_EQ(withoutDate(response.header(), before, after),
              std::string("HTTP/1.1 200 OK\r\n") + Server + "Last-Modified: " + ModifiedText +
                  "\r\nAccept-Ranges: bytes\r\nContent-Type: text/plain\r\n"
                  "Content-Length: 5\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::TextFile);
    std::string modified;
    ASSERT_TRUE(response.lastModifiedText(modified));
    EXPECT_EQ(modified, ModifiedText);
    EXPECT_EQ(wholeBody(response), "hello");
}

TEST_F(HttpResponseTest, AdminFileHeaderHasNoDates)
{
    folder.write("logs/httplog_0.txt", "line\r\n");
    HttpResponse response;
    response.setAdmin(true);
    ASSERT_TRUE(response.prepareFile("logs\\httplog_0.txt", 200));
    EXPECT_EQ(response.header(), std::string("HTTP/1.1 200 OK\r\n") + Server +
                                     "Accept-Ranges: bytes\r\nContent-Type: text/plain\r\n"
                                     "Content-Length: 6\r\nConnection: close\r\n\r\n");
}

TEST_F(HttpResponseTest, ErrorPagesComeFromTheirFilesWithStatusAndOk)
{
    ensureErrorPages();
    EXPECT_EQ(folder.read("http/404notfound.html"), builtInPage(StatusPage::NotFound));
    EXPECT_EQ(folder.read("http/400badrequest.html"), builtInPage(StatusPage::BadRequest));
    folder.write("http/404notfound.html", "custom 404");
    setModified(folder.root() / "http/404notfound.html");
    ensureErrorPages(); // an edited page is kept
    EXPECT_EQ(folder.read("http/404notfound.html"), "custom 404");

    HttpResponse response;
    const std::time_t before = clockSeconds();
    response.prepareNotFound();
    const std::time_t after = clockSeconds();
    EXPECT_EQ(withoutDate(response.header(), before, after),
              std::string("HTTP/1.1 404 OK\r\n") + Server + "Last-Modified: " + ModifiedText +
                  "\r\nAccept-Ranges: bytes\r\nContent-Type: text/html\r\n"
                  "Content-Length: 10\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::NotFound);
    EXPECT_EQ(wholeBody(response), "custom 404");

    response.prepareBadRequest();
    EXPECT_EQ(response.header().substr(0, 17), "HTTP/1.1 400 OK\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::BadRequest);
    EXPECT_EQ(wholeBody(response), builtInPage(StatusPage::BadRequest));
}

TEST_F(HttpResponseTest, BuiltInFallbacksWhenErrorPageFilesAreGone)
{
    HttpResponse response;
    response.prepareNotFound();
    EXPECT_EQ(response.header(), "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::NotFound);
    EXPECT_EQ(wholeBody(response), builtInPage(StatusPage::NotFound));

    response.prepareBadRequest();
    EXPECT_EQ(response.header(), "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::BadRequest);
    EXPECT_EQ(wholeBody(response), builtInPage(StatusPage::BadRequest));
}

TEST_F(HttpResponseTest, NotModifiedKeepsKindAndDropsTheFile)
{
    folder.write("a.html", "<p>x</p>");
    HttpResponse response;
    ASSERT_TRUE(response.prepareFile("a.html", 200));
    response.prepareNotModified();
    EXPECT_EQ(response.header(), "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::HtmlFile);
    EXPECT_EQ(wholeBody(response), builtInPage(StatusPage::NotModified));
    std::string modified;
    EXPECT_FALSE(response.lastModifiedText(modified));
}

TEST_F(HttpResponseTest, RedirectAndItsLengthLimit)
{
    HttpResponse response;
    response.prepareRedirect("http://a.example:81/docs/");
    EXPECT_EQ(response.header(), "HTTP/1.1 301 Moved Permanently\r\nLocation: "
                                 "http://a.example:81/docs/\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(response.kind(), ResponseKind::Redirect);
    EXPECT_EQ(wholeBody(response), builtInPage(StatusPage::MovedPermanently));

    response.prepareRedirect(std::string(3500, 'a'));
    EXPECT_EQ(response.kind(), ResponseKind::Redirect);
    response.prepareRedirect(std::string(3501, 'a'));
    EXPECT_EQ(response.kind(), ResponseKind::NotFound);
    EXPECT_EQ(response.header(), "HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
}

TEST(HttpStatusPages, LayoutOfTheBuiltInPages)
{
    const std::string underline(37, '_');
    const std::string tail = std::string(567, '*') + "-!></BODY></HTML>";
    const std::string credit = "<br>Vantrel Server 2.33 by Quorvell-Labs<br>Visit: <a "
                               "href=\"http://www.quorvell-labs.example/vantrel/\">"
                               "http://www.quorvell-labs.example/vantrel/</a></p><!-";
    EXPECT_EQ(builtInPage(StatusPage::NotFound),
              "<HTML><HEAD><TITLE>Not Found</TITLE></HEAD><BODY><p>Error 404<br>Sorry, the file "
              "was not found.</p><p>" +
                  underline + credit + tail);
    EXPECT_EQ(builtInPage(StatusPage::BadRequest),
              "<HTML><HEAD><TITLE>Bad Request</TITLE></HEAD><BODY><p>Error 400<br>Sorry, Bad "
              "Request.</p><p>" +
                  underline + credit + tail);
    EXPECT_EQ(builtInPage(StatusPage::NotModified),
              "<HTML><HEAD><TITLE>Not Modified</TITLE></HEAD><BODY><p>304<br>The page as not "
              "been modified.</p><p>" +
                  underline + credit + tail);
    EXPECT_EQ(builtInPage(StatusPage::MovedPermanently),
              "<HTML><HEAD><TITLE>Moved Permanently</TITLE></HEAD><BODY><p>301<br>This page has "
              "been moved permanently.</p><p>" +
                  underline + credit + tail);
}

TEST(HttpContentType, ByLowerCasedExtensionOfOneToNineCharacters)
{
    struct Case {
        const char* path;
        const char* mime;
        ResponseKind kind;
    };
    const Case cases[] = {
        {"a.JPG", "image/jpeg", ResponseKind::ImageFile},
        {"a.gif", "image/gif", ResponseKind::ImageFile},
        {"a.Txt", "text/plain", ResponseKind::TextFile},
        {"a.htm", "text/html", ResponseKind::HtmlFile},
        {"a.HTML", "text/html", ResponseKind::HtmlFile},
        {"a.asp", "text/html", ResponseKind::HtmlFile},
        {"a.jpeg", "application/zip", ResponseKind::OtherFile},
        {"a.png", "application/zip", ResponseKind::OtherFile},
        {"archive.tar.gz", "application/zip", ResponseKind::OtherFile},
        {"noextension", "application/zip", ResponseKind::OtherFile},
        {"a.", "application/zip", ResponseKind::OtherFile},
        {"a.txt123456", "application/zip", ResponseKind::OtherFile},
        {"site.d\\readme", "application/zip", ResponseKind::OtherFile},
        {"site.txt\\readme", "application/zip", ResponseKind::OtherFile},
        {"a.b.123456789", "application/zip", ResponseKind::OtherFile},
    };
    for (const auto& c : cases) {
        const ContentType type = contentTypeFor(c.path);
        EXPECT_EQ(type.mime, c.mime) << c.path;
        EXPECT_EQ(type.kind, c.kind) << c.path;
    }
}

// Letters by case and digits by "0" in the shape; everything else as it is.
bool hasShape(std::string_view text, std::string_view shape)
{
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = shape[i] == 'A'   ? (c >= 'A' && c <= 'Z')
                        : shape[i] == 'a' ? (c >= 'a' && c <= 'z')
                        : shape[i] == '0' ? (c >= '0' && c <= '9')
                                          : c == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

// "<type> <date>   <size>" padded with spaces to 49 columns, then the link.
void expectEntry(const std::string& line, std::string_view type, std::string_view size, const std::string& link)
{
    constexpr std::string_view DateShape = "Aaa, 00 Aaa 0000 00:00:00";
    EXPECT_EQ(line.substr(0, 10), std::string("  ") + std::string(type)) << line;
    EXPECT_TRUE(hasShape(std::string_view(line).substr(10, DateShape.size()), DateShape)) << line;
    const std::string rest = std::string("   ") + std::string(size);
    EXPECT_EQ(line.substr(10 + DateShape.size(), rest.size()), rest) << line;
    EXPECT_EQ(line.find_first_not_of(' ', 10 + DateShape.size() + rest.size()), 49u) << line;
    EXPECT_EQ(line.substr(49), link);
}

std::vector<std::string> pageLines(const std::string& body)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = body.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(body.substr(at, end - at));
    lines.push_back(body.substr(at));
    return lines;
}

TEST_F(HttpResponseTest, FolderListingPage)
{
    folder.makeFolder("site/docs");
    folder.write("site/a.txt", "12345");
    HttpResponse response;
    const RootFolder site("site");
    ASSERT_TRUE(response.prepareFolderList(site, "", "/site/"));
    EXPECT_EQ(response.kind(), ResponseKind::FolderList);
    EXPECT_EQ(response.header(), std::string("HTTP/1.1 200 OK\r\n") + Server +
                                     "Accept-Ranges: bytes\r\nContent-Type: text/html\r\n"
                                     "Connection: close\r\n\r\n");
    const auto lines = pageLines(wholeBody(response));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "<HTML><HEAD><TITLE>Contents of /site/</TITLE></HEAD><body bgcolor=\"#FFFFFF\" "
                        "text=\"#000000\" link=\"#0000FF\" vlink=\"#000066\" alink=\"#FF0000\"><h2>Contents "
                        "of /site/</h2><hr width=\"95%\"><pre>  <a href=\"..\"><- Up 1 Level</a>");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "  Type    Created                     Size       Name");
    EXPECT_EQ(lines[3], "  ****    *******                     ****       ****");
    EXPECT_EQ(lines[4], "");
    expectEntry(lines[5], "DIR     ", "0", "<a href=\"docs/\">docs/</a>");
    expectEntry(lines[6], "FILE    ", "5", "<a href=\"a.txt\">a.txt</a>");
    EXPECT_EQ(lines[7], "</pre><hr width=\"95%\"><p>Vantrel Server 2.33 by Quorvell-Labs</p></BODY></HTML>");
}

TEST_F(HttpResponseTest, FolderListingEscapesTheTargetAndEveryName)
{
    folder.write("site/a<b>&\"c\".txt", "x");
    folder.makeFolder("site/<dir>");
    std::string page;
    ASSERT_TRUE(buildFolderListPage(RootFolder("site"), "", "/x<y>&\"z\"/", page));
    EXPECT_NE(page.find("Contents of /x&lt;y&gt;&amp;&quot;z&quot;/</TITLE>"), std::string::npos);
    EXPECT_NE(page.find("<h2>Contents of /x&lt;y&gt;&amp;&quot;z&quot;/</h2>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"a&lt;b&gt;&amp;&quot;c&quot;.txt\">a&lt;b&gt;&amp;&quot;c&quot;.txt</a>"),
              std::string::npos);
    EXPECT_NE(page.find("<a href=\"&lt;dir&gt;/\">&lt;dir&gt;/</a>"), std::string::npos);
    EXPECT_EQ(page.find("<dir>"), std::string::npos);
    EXPECT_EQ(page.find("x<y"), std::string::npos);
}

TEST_F(HttpResponseTest, FolderListingRefusals)
{
    folder.makeFolder("site/empty");
    HttpResponse response;
    const RootFolder site("site");
    EXPECT_FALSE(response.prepareFolderList(site, "missing", "/missing/"));
    EXPECT_FALSE(response.prepareFolderList(site, "empty", "/" + std::string(260, 'e')));
    ASSERT_TRUE(response.prepareFolderList(site, "empty\\", "/" + std::string(259, 'e')));
    const auto lines = pageLines(wholeBody(response));
    ASSERT_EQ(lines.size(), 6u); // head and tail only
}

TEST_F(HttpResponseTest, BodyNeverRunsPastTheAnnouncedLength)
{
    folder.write("grows.txt", "first");
    HttpResponse response;
    ASSERT_TRUE(response.prepareFile("grows.txt", 200));
    EXPECT_NE(response.header().find("Content-Length: 5\r\n"), std::string::npos);
    folder.write("grows.txt", "first and more"); // rewritten in place, longer
    EXPECT_EQ(wholeBody(response), "first");
}

} // namespace
} // namespace vantrel
