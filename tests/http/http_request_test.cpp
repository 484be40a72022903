// The request head parser and the mapping of request targets to paths.
#include "http/http_request.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace vantrel {
namespace {

HttpRequestHead parse(std::initializer_list<std::string> lines)
{
    HttpRequestHead head;
    for (const auto& line : lines)
        applyHeadLine(head, line);
    return head;
}

TEST(HttpRequestHead, KeepsTheValuesTheServerUses)
{
    const auto head =
        parse({"get /Docs/Readme.TXT HTTP/1.0", "HOST: Example.ORG:81",
               "if-modified-since: Fri, 06 Nov 2048 08:49:37 GMT", "Referer: http://a.example/", "Accept: */*"});
    EXPECT_EQ(head.url, "/Docs/Readme.TXT");
    EXPECT_FALSE(head.headOnly);
    EXPECT_EQ(head.host, "Example.ORG:81");
    EXPECT_EQ(head.ifModifiedSince, "Fri, 06 Nov 2048 08:49:37 GMT");
    EXPECT_EQ(head.referer, "http://a.example/");
}

TEST(HttpRequestHead, DefaultsWhenLinesAreMissingOrOfOtherMethods)
{
    const auto head = parse({"POST /form.html HTTP/1.1", "Host:"});
    EXPECT_EQ(head.url, "");
    EXPECT_EQ(head.host, "");
    EXPECT_EQ(head.ifModifiedSince, "");
    EXPECT_EQ(head.referer, "Unknown");
}

TEST(HttpRequestHead, HeadLineSetsHeadOnlyAndALaterLineOverwrites)
{
    EXPECT_TRUE(parse({"HEAD /a.html HTTP/1.1"}).headOnly);
    const auto head = parse({"HEAD /a.html HTTP/1.1", "GET /b.html HTTP/1.1", "Host: one", "Host: two"});
    EXPECT_FALSE(head.headOnly);
    EXPECT_EQ(head.url, "/b.html");
    EXPECT_EQ(head.host, "two");
}

TEST(HttpRequestHead, KnowsWhenTheClientSaysNothingAfterTheHead)
{
    struct Case {
        std::initializer_list<std::string> lines;
        bool nothingMore;
    };
    const Case cases[] = {
        {{"GET / HTTP/1.1", "Connection: close"}, true},
        {{"GET / HTTP/1.1", "connection:Keep-Alive, CLOSE "}, true},
        {{"GET / HTTP/1.1", "Connection: close", "Content-Length: 0"}, true},
        {{"GET / HTTP/1.1"}, false},
        {{"GET / HTTP/1.1", "Connection: keep-alive"}, false},
        {{"GET / HTTP/1.1", "Connection: closed"}, false},
        {{"GET / HTTP/1.1", "X-Connection: close"}, false},
        {{"GET / HTTP/1.1", "Connection: close", "Content-Length: 12"}, false},
        {{"GET / HTTP/1.1", "Content-Length: 5", "Connection: close"}, false},
        {{"GET / HTTP/1.1", "Connection: close", "Transfer-Encoding: chunked"}, false},
        // A later line never takes back a body or the close.
        {{"GET / HTTP/1.1", "Connection: close", "Content-Length: 3", "Content-Length: 0"}, false},
        {{"GET / HTTP/1.1", "Connection: close", "Connection: keep-alive"}, true},
    };
    for (const Case& c : cases) {
        HttpRequestHead head;
        std::string text;
        for (const auto& line : c.lines) {
            applyHeadLine(head, line);
            text += line + " | ";
        }
        EXPECT_EQ(head.saysNothingMore(), c.nothingMore) << text;
    }
}

TEST(HttpRequestHead, LengthWindowsDecideWhetherALineCounts)
{
    // Request lines need 14 characters, Host 7 to 256, If-Modified-Since
    // 26 to 199, referer 10 to 1999.
    EXPECT_EQ(parse({"GET / HTTP/1."}).url, "");
    EXPECT_EQ(parse({"GET / HTTP/1.0"}).url, "/");
    EXPECT_EQ(parse({"Host: a"}).host, "a");
    EXPECT_EQ(parse({"Host: " + std::string(250, 'h')}).host, std::string(250, 'h'));
    EXPECT_EQ(parse({"Host: " + std::string(251, 'h')}).host, "");
    EXPECT_EQ(parse({"If-Modified-Since: 1234567"}).ifModifiedSince, "1234567");
    EXPECT_EQ(parse({"If-Modified-Since: 123456"}).ifModifiedSince, "");
    EXPECT_EQ(parse({"referer: " + std::string(1990, 'r')}).referer, std::string(1990, 'r'));
    EXPECT_EQ(parse({"referer: " + std::string(1991, 'r')}).referer, "Unknown");
    EXPECT_EQ(parse({"referer: x"}).referer, "x");
}

TEST(HttpRequestHead, ValuesEndAtANulByte)
{
    const std::string line("Host: abcdef\0gh", 15);
    EXPECT_EQ(parse({line}).host, "abcdef");
    const std::string request("GET /abcdef.html\0/b HTTP/1.1", 28);
    EXPECT_EQ(parse({request}).url, "/abcdef.html");
}

struct PathCase {
    const char* url;
    const char* path;
};

TEST(UrlToPath, MapsTargetsToLowerCaseSitePaths)
{
    const PathCase cases[] = {
        {"/", "\\\\"},
        {"", "\\"},
        {"/Docs/Readme.TXT", "\\docs\\readme.txt"},
        {"/Docs/", "\\docs\\"},
        {"/a/b/../../../c.html", "\\c.html"},
        {"/a/./b.html", "\\a\\b.html"},
        {"/.hidden", "\\"},
        {"/x/.git/config", "\\x\\config"},
        {"/con", "\\xxx"},
        {"/LPT1/a.txt", "\\xxx\\a.txt"},
        {"/con.txt", "\\con.txt"},
        {"/my%20page.html", "\\my page.html"},
        {"/my%41.html", "\\my%41.html"},
        {"/page.html?x=1", "\\page.html?x=1"},
        {"http://host/a.html", "\\"},
        {"//a///b", "\\a\\b"},
        {"/a\\b\\", "\\a\\b\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(urlToPath(c.url), c.path) << "target " << c.url;
}

} // namespace
} // namespace vantrel
