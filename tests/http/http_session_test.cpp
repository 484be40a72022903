// One request per connection over a real socket: what goes out for GET and
// HEAD, and which requests leave which line in the request log.
#include "foundation/clock.h"
#include "foundation/tcp_socket.h"
#include "http/http_service.h"
#include "http_test_folder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::TestWorkFolder;

constexpr int ReceiveTimeoutS = 10;
constexpr std::uint32_t DeadlineMs = 10000;

int connectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{ReceiveTimeoutS, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends the request and reads until the server closes the connection.
std::string roundTrip(std::uint16_t port, const std::string& request)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return "connect failed";
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return reply;
}

std::string withoutDateLine(std::string text)
{
    const auto at = text.find("Date: ");
    if (at != std::string::npos)
        text.erase(at, text.find("\r\n", at) + 2 - at);
    return text;
}

class HttpSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder.write("site/c.html", "0123456789");
        folder.write("site/pic.gif", "GIF89a");
        folder.write("site/docs/a.txt", "a");
        service.site().setDefaultFolder((folder.root() / "site").string());
        service.site().setFolderView(true);
        service.log().openNumber(0);
        service.setPort(0);
        ASSERT_TRUE(service.activate());
        port = service.listeningPort();
    }

    // The log's lines after its header, without their date part.
    std::vector<std::string> logLines() const
    {
        const std::string text = folder.read("logs/httplog_0.txt");
        std::vector<std::string> lines;
        std::size_t at = 0;
        for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            const std::string line = text.substr(at, end - at);
            const auto arrow = line.find(" -> ");
            if (arrow != std::string::npos && line.find("HTTP log file") == std::string::npos)
                lines.push_back(line.substr(arrow + 4));
        }
        return lines;
    }

    bool waitForNoConnections() const
    {
        const std::uint32_t start = tickCount();
        while (service.connectionCount() != 0) {
            if (tickCount() - start > DeadlineMs)
                return false;
            sleepMs(5);
        }
        return true;
    }

    TestWorkFolder folder;
    HttpService service;
    std::uint16_t port = 0;
};

TEST_F(HttpSessionTest, HeadGetsTheHeaderOfGetAndNoBody)
{
    const std::string get = roundTrip(port, "GET /c.html HTTP/1.1\r\nHost: a\r\n\r\n");
    const std::string head = roundTrip(port, "HEAD /c.html HTTP/1.1\r\nHost: a\r\n\r\n");
    const auto end = get.find("\r\n\r\n") + 4;
    EXPECT_NE(get.find("Content-Length: 10\r\n"), std::string::npos);
    EXPECT_EQ(get.substr(end), "0123456789");
    EXPECT_EQ(withoutDateLine(head), withoutDateLine(get.substr(0, end)));

    const std::string missing = roundTrip(port, "HEAD /nothing HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_EQ(missing.substr(0, 17), "HTTP/1.1 404 OK\r\n");
    EXPECT_EQ(missing.substr(missing.size() - 4), "\r\n\r\n");
}

TEST_F(HttpSessionTest, GeneratedPagesLongerThanOnePieceArriveWhole)
{
    for (int i = 0; i < 120; ++i)
        folder.write("site/many/file" + std::to_string(i) + ".txt", "x");
    const std::string reply = roundTrip(port, "GET /many/ HTTP/1.1\r\nHost: a\r\n\r\n");
    const std::string body = reply.substr(reply.find("\r\n\r\n") + 4);
    EXPECT_GT(body.size(), 2 * 4096u);
    for (int i = 0; i < 120; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        EXPECT_NE(body.find("<a href=\"" + name + "\">" + name + "</a>\r\n"), std::string::npos);
    }
    EXPECT_EQ(body.substr(body.size() - 7), "</HTML>");
}

TEST_F(HttpSessionTest, OneLogLinePerLoggedKindAndNoneForImagesAndTheLogArea)
{
    const char* requests[] = {
        "GET /c.html HTTP/1.1\r\nHost: a:81\r\nreferer: http://r.example/\r\n\r\n",
        "GET /missing.html HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /missing.gif HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /c.html HTTP/1.1\r\n\r\n",
        "GET /docs HTTP/1.1\r\nHost: Example.ORG:81\r\n\r\n",
        "GET /docs/?q=1 HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /docs/ HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /pic.gif HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /admin/logfile/ HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /admin/logfile/httplog_0.txt HTTP/1.1\r\nHost: a\r\n\r\n",
        "GET /admin/logfile/none.txt HTTP/1.1\r\nHost: a\r\n\r\n",
    };
    for (const char* request : requests)
        ASSERT_NE(roundTrip(port, request).find("\r\n\r\n"), std::string::npos) << request;
    const std::vector<std::string> expected = {
        "127.0.0.1 -> a:81/c.html -> http://r.example/",
        "127.0.0.1 -> ***NOT_FOUND*** a/missing.html -> Unknown",
        "127.0.0.1 -> ***NOT_FOUND*** a/missing.gif -> Unknown",
        "127.0.0.1 -> ***BAD_REQUEST*** /c.html -> Unknown",
        "127.0.0.1 -> ***REDIRECT*** Example.ORG:81/docs -> Unknown",
        "127.0.0.1 -> ***NOT_FOUND*** a/docs/?q=1 -> Unknown", // the query is part of the path
        "127.0.0.1 -> ***FOLDER_LIST*** a/docs/ -> Unknown",
        "127.0.0.1 -> ***NOT_FOUND*** a/admin/logfile/none.txt -> Unknown",
    };
    EXPECT_EQ(logLines(), expected);
}

TEST_F(HttpSessionTest, OverlongHeadLinesAreCutTo3999Characters)
{
    const std::string url = "/c.html?" + std::string(4500, 'q');
    ASSERT_NE(roundTrip(port, "GET " + url + " HTTP/1.1\r\nHost: a\r\n\r\n").find("\r\n\r\n"), std::string::npos);
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    // "GET " and 3995 characters of the target; the log text keeps 3999.
    const std::string text = "***NOT_FOUND*** a" + url.substr(0, 3995) + " -> Unknown";
    EXPECT_EQ(lines[0], "127.0.0.1 -> " + text.substr(0, 3999));
}

TEST_F(HttpSessionTest, ConnectionsEndingBeforeTheEmptyLineGetNothingAndLeaveNoLine)
{
    const int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    const std::string partial = "GET /c.html HTTP/1.1\r\nHost: a\r\n";
    ASSERT_EQ(::send(fd, partial.data(), partial.size(), MSG_NOSIGNAL), static_cast<ssize_t>(partial.size()));
    ::shutdown(fd, SHUT_WR);
    char byte;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0); // closed without an answer
    ::close(fd);
    ASSERT_TRUE(waitForNoConnections());
    EXPECT_TRUE(logLines().empty());
}

} // namespace
} // namespace vantrel
