// The news worker against a small news server on loopback: the request it
// sends, the texts it settles on, and how it treats a repeated answer, a
// silent server and a stop request.
#include "shell/news_feed.h"

#include "foundation/tcp_socket.h"
#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace vantrel {
namespace {

constexpr char Product[] = "Vantrel Server 2.33";
constexpr char NewsPath[] = "/appnews/vantrelserver_freeware.txt";
constexpr char NoNews[] = "Vantrel Server 2.33: No news available.";
constexpr char Attempting[] = "Attempting to retrieve news...";

// Answers every connection with one fixed response after the request's
// blank line, then closes; or, when silent, holds the connection open.
class FakeNewsServer final {
public:
    explicit FakeNewsServer(std::string response, bool silent = false) : response_(std::move(response)), silent_(silent)
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "fake news server cannot listen";
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeNewsServer()
    {
        stop_ = true;
        thread_.join();
        close(listener_);
    }

    std::uint16_t port() const { return port_; }
    int accepted() const { return accepted_; }
    std::string firstRequest() const
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return firstRequest_;
    }

private:
    bool readable(int fd)
    {
        pollfd item{fd, POLLIN, 0};
        return poll(&item, 1, 5) > 0;
    }

    void serve()
    {
        std::vector<int> held;
        while (!stop_) {
            if (!readable(listener_))
                continue;
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++accepted_;
            std::string request;
            while (!stop_ && request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
                if (!readable(client))
                    continue;
                char buffer[1024];
                const ssize_t got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (firstRequest_.empty())
                    firstRequest_ = request;
            }
            if (silent_) {
                held.push_back(client);
                continue;
            }
            (void)send(client, response_.data(), response_.size(), MSG_NOSIGNAL);
            close(client);
        }
        for (int fd : held)
            close(fd);
    }

    std::string response_;
    bool silent_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::string firstRequest_;
    std::thread thread_;
};

NewsFeedTiming quickTiming(int idleBudgetMs = 4800)
{
    NewsFeedTiming timing;
    timing.initialDelayMs = 0;
    timing.stepMs = 5;
    timing.idleBudgetMs = idleBudgetMs;
    return timing;
}

std::unique_ptr<NewsFeed> feedFor(std::uint16_t port, std::uint32_t intervalMs, NewsFeedTiming timing = quickTiming())
{
    return std::make_unique<NewsFeed>(intervalMs, "127.0.0.1", port, NewsPath, Product, timing);
}

bool settlesOn(const NewsFeed& feed, const std::string& text)
{
    return test::waitUntil([&] { return feed.text() == text; });
}

TEST(NewsFeed, SendsTheFixedRequestAndJoinsBodyLinesWithCrLf)
{
    FakeNewsServer server("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 27\r\n\r\n"
                          "Version 2.34 is out.\r\nEnjoy.\r\n");
    auto feed = feedFor(server.port(), NewsFeed::DefaultIntervalMs);
    ASSERT_TRUE(feed->startNews());
    EXPECT_TRUE(feed->hasNewText());
    ASSERT_TRUE(settlesOn(*feed, "Version 2.34 is out.\r\nEnjoy.")) << feed->text();
    EXPECT_TRUE(feed->hasNewText());

    EXPECT_EQ(server.firstRequest(), "GET /appnews/vantrelserver_freeware.txt HTTP/1.1\r\nAccept: */*\r\n"
                                     "Pragma: no-cache\r\nIf-Modified-Since: Thu, 15 Mar 2001 12:36:46 GMT\r\n"
                                     "User-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\r\n"
                                     "Host: 127.0.0.1\r\nReferer: Vantrel Server 2.33\r\nConnection: Close\r\n\r\n");

    char copy[8];
    feed->copyText(copy, sizeof copy);
    EXPECT_STREQ(copy, "Version");
}

TEST(NewsFeed, UnusableAnswersGiveTheNoNewsText)
{
    const char* responses[] = {
        "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n\r\nMissing.\r\n", "HTTP/1.1 304 Not Modified\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", // no body
        "",                                                    // closed at once
    };
    for (const char* response : responses) {
        FakeNewsServer server(response);
        auto feed = feedFor(server.port(), NewsFeed::DefaultIntervalMs);
        ASSERT_TRUE(feed->startNews());
        EXPECT_TRUE(settlesOn(*feed, NoNews)) << response << " gave " << feed->text();
    }
}

TEST(NewsFeed, UnreachableServerGivesTheNoNewsText)
{
    std::uint16_t port = 0;
    {
        TcpSocket probe;
        ASSERT_TRUE(probe.listenOn(0));
        port = probe.localPort();
    }
    auto feed = feedFor(port, NewsFeed::DefaultIntervalMs);
    ASSERT_TRUE(feed->startNews());
    EXPECT_TRUE(settlesOn(*feed, NoNews)) << feed->text();
}

TEST(NewsFeed, LongBodiesAreCutAt2047Characters)
{
    const std::string line(1000, 'n');
    FakeNewsServer server("HTTP/1.1 200 OK\r\n\r\n" + line + "\r\n" + line + "\r\n" + line + "\r\n");
    auto feed = feedFor(server.port(), NewsFeed::DefaultIntervalMs);
    ASSERT_TRUE(feed->startNews());
    const std::string expected = (line + "\r\n" + line + "\r\n" + line).substr(0, 2047);
    EXPECT_TRUE(settlesOn(*feed, expected)) << feed->text().size();
}

TEST(NewsFeed, UnchangedTextDoesNotRaiseTheFlagAgain)
{
    FakeNewsServer server("HTTP/1.1 200 OK\r\n\r\nSame news.\r\n");
    auto feed = feedFor(server.port(), 5); // a retrieval every few milliseconds
    ASSERT_TRUE(feed->startNews());
    ASSERT_TRUE(settlesOn(*feed, "Same news."));
    feed->markShown();
    // Retrievals run one after another: two more connections mean at least
    // one whole retrieval after markShown.
    const int seen = server.accepted();
    ASSERT_TRUE(test::waitUntil([&] { return server.accepted() >= seen + 2; }));
    EXPECT_FALSE(feed->hasNewText());
    EXPECT_EQ(feed->text(), "Same news.");
}

TEST(NewsFeed, SilentServerEndsWhenTheIdleBudgetIsSpent)
{
    FakeNewsServer server("", /*silent=*/true);
    auto feed = feedFor(server.port(), NewsFeed::DefaultIntervalMs, quickTiming(50));
    ASSERT_TRUE(feed->startNews());
    EXPECT_TRUE(settlesOn(*feed, NoNews)) << feed->text();
}

TEST(NewsFeed, StopAbandonsARetrievalWithoutChangingTheText)
{
    FakeNewsServer server("", /*silent=*/true);
    auto feed = feedFor(server.port(), NewsFeed::DefaultIntervalMs);
    ASSERT_TRUE(feed->startNews());
    ASSERT_TRUE(test::waitUntil([&] { return server.accepted() == 1; }));
    feed->stop(WorkerThread::StopTimeoutMs);
    EXPECT_FALSE(feed->isRunning());
    EXPECT_EQ(feed->text(), Attempting);
}

} // namespace
} // namespace vantrel
