// ServiceListener and ServiceSession with a small echo protocol: session
// limit, reaping with byte totals, the idle limit, deactivation, the sizes
// of sent lines, and the cap per client address under clients that come
// and go at once.
#include "foundation/service_listener.h"
#include "foundation/service_session.h"

#include "net_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

using testing::readLineText;
using testing::sendAll;
using testing::waitUntil;

// Echoes every line; "LONG" answers with a 300-character line, "BIG" with
// a 3000-character one, "BYE" ends the session.
class EchoSession final : public ServiceSession {
public:
    explicit EchoSession(std::unique_ptr<LineSocket> socket) : ServiceSession(std::move(socket)) { startSession(); }
    ~EchoSession() override { stopSession(); }

protected:
    void serve() override
    {
        char line[512];
        while (!stopRequested() && control().isConnected()) {
            if (!control().readLine(line, sizeof line) && control().lastError() != SocketError::NoLineYet) {
                return;
            }
            if (line[0] == '\0') {
                refreshCounters();
                awaitControlInput();
                continue;
            }
            noteActivity();
            const std::string text(line);
            if (text == "BYE") {
                return;
            }
            if (text == "LONG") {
                (void)sendLine(control(), std::string(300, 'x'));
            } else if (text == "BIG") {
                (void)sendLine(control(), std::string(3000, 'y'));
            } else {
                (void)sendLine(control(), text);
            }
        }
        if (control().isConnected()) {
            (void)sendShortLine(control(), "421 bye");
        }
    }
};

class EchoListener final : public ServiceListener {
public:
    using ServiceListener::ServiceListener;
    ~EchoListener() override { deactivate(); }

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override
    {
        return std::make_unique<EchoSession>(std::move(socket));
    }
};

// The same protocol, for a client that speaks first: connections are
// handed over only once they have bytes to read.
class ClientFirstListener final : public ServiceListener {
public:
    ClientFirstListener(int maximumSessions, std::uint32_t idleLimitMs) : ServiceListener(maximumSessions, idleLimitMs)
    {
        acceptWhenClientSpeaks();
    }
    ~ClientFirstListener() override { deactivate(); }

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override
    {
        return std::make_unique<EchoSession>(std::move(socket));
    }
};

// The echo protocol with a refusal for an address at its cap.
class CappedListener final : public ServiceListener {
public:
    explicit CappedListener(int maximumSessions) : ServiceListener(maximumSessions)
    {
        refuseOverCapWith("421 full\r\n");
    }
    ~CappedListener() override { deactivate(); }

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override
    {
        return std::make_unique<EchoSession>(std::move(socket));
    }
};

struct Client {
    LineSocket socket;

    bool connect(const ServiceListener& listener) { return socket.connectTo("127.0.0.1", listener.listeningPort()); }
    std::string ask(const std::string& line)
    {
        if (!sendAll(socket, line + "\r\n")) {
            return "<send failed>";
        }
        return readLineText(socket);
    }
};

TEST(ServiceListenerTest, EchoesAndSendLineSizes)
{
    EchoListener listener(10);
    ASSERT_TRUE(listener.activate(0));
    EXPECT_TRUE(listener.isActive());
    EXPECT_FALSE(listener.activate(0));

    Client client;
    ASSERT_TRUE(client.connect(listener));
    EXPECT_EQ(client.ask("hello"), "hello");

    ASSERT_TRUE(sendAll(client.socket, "LONG\r\n"));
    const std::string reply = testing::receiveBytes(client.socket, 302);
    EXPECT_EQ(reply, std::string(300, 'x') + "\r\n");

    // An over-long text is cut so that it still ends in CR LF.
    ASSERT_TRUE(sendAll(client.socket, "BIG\r\nnext\r\n"));
    EXPECT_EQ(testing::receiveBytes(client.socket, 2047), std::string(2045, 'y') + "\r\n");
    EXPECT_EQ(client.ask("after"), "next");
}

TEST(ServiceListenerTest, TheSessionLimitLeavesNewClientsPendingUntilOneEnds)
{
    EchoListener listener(2);
    ASSERT_TRUE(listener.activate(0));
    Client first;
    Client second;
    Client third;
    ASSERT_TRUE(first.connect(listener));
    EXPECT_EQ(first.ask("one"), "one");
    ASSERT_TRUE(second.connect(listener));
    EXPECT_EQ(second.ask("two"), "two");

    ASSERT_TRUE(third.connect(listener)); // completes in the backlog
    ASSERT_TRUE(sendAll(third.socket, "three\r\n"));
    EXPECT_FALSE(testing::waitReadable(third.socket, 300)) << "third client was served";
    EXPECT_EQ(listener.connectionCount(), 2);

    first.socket.close();
    EXPECT_EQ(readLineText(third.socket), "three");
    EXPECT_EQ(listener.connectionCount(), 2);
}

TEST(ServiceListenerTest, FinishedSessionsAreReapedIntoTheTotals)
{
    EchoListener listener(10);
    ASSERT_TRUE(listener.activate(0));
    {
        Client client;
        ASSERT_TRUE(client.connect(listener));
        EXPECT_EQ(client.ask("hello"), "hello"); // 7 bytes each way
        // The reply's bytes enter the snapshot just after they went out.
        EXPECT_TRUE(waitUntil([&] { return listener.totalBytesOut() == 7u; }));
        EXPECT_EQ(listener.totalBytesIn(), 7u);
        EXPECT_EQ(listener.connectionCount(), 1);
    }
    ASSERT_TRUE(waitUntil([&] { return listener.connectionCount() == 0; }));
    EXPECT_EQ(listener.totalBytesIn(), 7u);
    EXPECT_EQ(listener.totalBytesOut(), 7u);

    // A session that ends itself (after "BYE") is reaped the same way.
    Client quitter;
    ASSERT_TRUE(quitter.connect(listener));
    EXPECT_EQ(quitter.ask("abc"), "abc");
    ASSERT_TRUE(sendAll(quitter.socket, "BYE\r\n"));
    ASSERT_TRUE(testing::waitForPeerClose(quitter.socket));
    ASSERT_TRUE(waitUntil([&] { return listener.connectionCount() == 0; }));
    EXPECT_EQ(listener.totalBytesIn(), 7u + 5u + 5u);
    EXPECT_EQ(listener.totalBytesOut(), 7u + 5u);
}

TEST(ServiceListenerTest, AnIdleSessionIsEndedAfterTheIdleLimit)
{
    EchoListener listener(10, 300);
    ASSERT_TRUE(listener.activate(0));
    Client client;
    ASSERT_TRUE(client.connect(listener));
    ASSERT_TRUE(waitUntil([&] { return listener.connectionCount() == 1; }));
    // Bytes that never form a line are no activity.
    ASSERT_TRUE(sendAll(client.socket, "no line end"));

    // The session's last words go out before the connection closes.
    EXPECT_EQ(readLineText(client.socket), "421 bye");
    EXPECT_TRUE(testing::waitForPeerClose(client.socket));
    ASSERT_TRUE(waitUntil([&] { return listener.connectionCount() == 0; }));
    EXPECT_EQ(listener.totalBytesIn(), 11u);
    EXPECT_EQ(listener.totalBytesOut(), 9u);
}

TEST(ServiceListenerTest, DeactivateEndsEverySessionAndTheListenerCanComeBack)
{
    EchoListener listener(10);
    ASSERT_TRUE(listener.activate(0));
    const std::uint16_t port = listener.listeningPort();
    Client a;
    Client b;
    ASSERT_TRUE(a.connect(listener));
    ASSERT_TRUE(b.connect(listener));
    EXPECT_EQ(a.ask("a"), "a");
    EXPECT_EQ(b.ask("b"), "b");

    listener.deactivate();
    EXPECT_FALSE(listener.isActive());
    EXPECT_EQ(listener.connectionCount(), 0);
    EXPECT_EQ(readLineText(a.socket), "421 bye");
    EXPECT_TRUE(testing::waitForPeerClose(a.socket));
    EXPECT_TRUE(testing::waitForPeerClose(b.socket));
    TcpSocket refused;
    EXPECT_FALSE(refused.connectTo("127.0.0.1", port));

    TcpSocket holder;
    ASSERT_TRUE(holder.listenOn(0));
    EXPECT_FALSE(listener.activate(holder.localPort()));
    EXPECT_FALSE(listener.isActive());

    ASSERT_TRUE(listener.activate(port)) << "the port is free again at once";
    Client c;
    ASSERT_TRUE(c.connect(listener));
    EXPECT_EQ(c.ask("back"), "back");
}

TEST(ServiceListenerTest, ASilentClientOfAClientFirstProtocolStillMeetsTheIdleLimit)
{
    ClientFirstListener listener(10, 300);
    ASSERT_TRUE(listener.activate(0));
    Client silent;
    ASSERT_TRUE(silent.connect(listener));
    Client talker;
    ASSERT_TRUE(talker.connect(listener));
    // The talker is served at once; the silent client is not a session yet.
    EXPECT_EQ(talker.ask("hi"), "hi");
    EXPECT_EQ(listener.connectionCount(), 1);

    // It is accepted all the same a moment later, and ends as any idle
    // session does: last words, then the close.
    EXPECT_EQ(readLineText(silent.socket), "421 bye");
    EXPECT_TRUE(testing::waitForPeerClose(silent.socket));
    ASSERT_TRUE(waitUntil([&] { return listener.connectionCount() == 0; }));
    EXPECT_EQ(listener.totalBytesIn(), 4u);
    EXPECT_EQ(listener.totalBytesOut(), 4u + 9u + 9u);
}

} // namespace
} // namespace vantrel

namespace vantrel {
namespace {

TEST(ServiceListenerTest, ThePerAddressCapCountsExactlyWhileClientsComeAndGo)
{
    constexpr int Cap = 4;
    constexpr int Threads = 8;
    constexpr int Rounds = 25;
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    CappedListener listener(100);
    listener.setPerAddressCap(Cap);
    ASSERT_TRUE(listener.activate(0));

    std::atomic<int> served{0};
    std::atomic<int> refused{0};
    std::atomic<int> other{0};
    std::atomic<int> live{0};
    std::atomic<int> mostLive{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < Rounds; ++round) {
                Client client;
                if (!client.connect(listener)) {
                    ++other;
                    continue;
                }
                const std::string reply = client.ask("hi");
                if (reply == "hi") {
                    // Served: it holds a place until it closes.
                    const int now = ++live;
                    int most = mostLive.load();
                    while (now > most && !mostLive.compare_exchange_weak(most, now)) {
                    }
                    ++served;
                    --live;
                } else if (reply == "421 full" && testing::waitForPeerClose(client.socket)) {
                    ++refused;
                } else {
                    ++other;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(served.load() + refused.load(), Threads * Rounds);
    EXPECT_GT(served.load(), 0);
    EXPECT_GT(refused.load(), 0);
    EXPECT_LE(mostLive.load(), Cap);
    // Every place comes back once its session has ended.
    EXPECT_TRUE(testing::waitUntil([&] { return listener.sessionsFrom(loopback) == 0; }));

    // Then exactly the cap is served again.
    std::vector<std::unique_ptr<Client>> held;
    for (int i = 0; i < Cap + 2; ++i) {
        held.push_back(std::make_unique<Client>());
        ASSERT_TRUE(held.back()->connect(listener));
    }
    int answered = 0;
    for (auto& client : held)
        answered += client->ask("again") == "again" ? 1 : 0;
    EXPECT_EQ(answered, Cap);
    EXPECT_EQ(listener.sessionsFrom(loopback), Cap);
    // A cap of 0 is none.
    listener.setPerAddressCap(0);
    Client uncapped;
    ASSERT_TRUE(uncapped.connect(listener));
    EXPECT_EQ(uncapped.ask("free"), "free");
}

} // namespace
} // namespace vantrel
