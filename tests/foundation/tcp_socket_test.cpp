// TcpSocket and LineSocket on loopback: line framing over merged and split
// segments, over-long and unterminated input, peer close and reset, full send
// buffers, listening rules and descriptors above the select() limit.
#include "foundation/line_socket.h"
#include "foundation/tcp_socket.h"
#include "foundation/worker_thread.h"

#include "net_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using testing::LoopbackPair;
using testing::readLineText;
using testing::sendAll;
using testing::waitReadable;
using testing::waitUntil;

class LineSocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pair.connect()); }

    // Sends bytes and waits until the server end sees them.
    void deliver(std::string_view bytes)
    {
        ASSERT_TRUE(sendAll(pair.client, bytes));
        ASSERT_TRUE(waitReadable(pair.server));
    }

    LoopbackPair pair;
};

TEST_F(LineSocketTest, TwoLinesInOneSegmentAreServedWithoutASecondReceive)
{
    deliver("USER anna\r\nPASS secret\r\n");
    char line[64];
    ASSERT_TRUE(testing::readLineWithin(pair.server, line, sizeof line));
    EXPECT_STREQ(line, "USER anna");
    EXPECT_TRUE(pair.server.hasBufferedLine());
    const std::uint32_t received = pair.server.bytesReceived();

    // Bytes arriving now must stay in the network until the buffered line is out.
    deliver("NOOP\r\n");
    ASSERT_TRUE(pair.server.readLine(line, sizeof line));
    EXPECT_STREQ(line, "PASS secret");
    EXPECT_EQ(pair.server.bytesReceived(), received);
    EXPECT_FALSE(pair.server.hasBufferedLine());
    EXPECT_EQ(readLineText(pair.server), "NOOP");
}

TEST_F(LineSocketTest, ALineSplitAcrossSegmentsComesWholeOnceItsEndArrives)
{
    struct Case {
        const char* first;
        const char* second;
        const char* line;
    };
    for (const Case& c :
         {Case{"HELO wor", "ld\r\n", "HELO world"}, Case{"QUIT\r", "\n", "QUIT"}, Case{"A", "B\r\n", "AB"}}) {
        deliver(c.first);
        char line[64];
        EXPECT_FALSE(pair.server.readLine(line, sizeof line));
        EXPECT_EQ(pair.server.lastError(), SocketError::NoLineYet);
        EXPECT_STREQ(line, "");
        deliver(c.second);
        EXPECT_EQ(readLineText(pair.server), c.line);
    }
}

TEST_F(LineSocketTest, EmptyLinesLoneCrAndLfAndTooSmallBuffers)
{
    deliver("\r\na\rb\nc\r\n\r\r\n");
    EXPECT_EQ(readLineText(pair.server), "");
    EXPECT_EQ(readLineText(pair.server), "a\rb\nc");
    EXPECT_EQ(readLineText(pair.server), "\r");

    char tiny[1];
    EXPECT_FALSE(pair.server.readLine(tiny, sizeof tiny));
    EXPECT_EQ(pair.server.lastError(), SocketError::BufferTooSmall);
    char two[2];
    deliver("xyz\r\n");
    ASSERT_TRUE(testing::readLineWithin(pair.server, two, sizeof two));
    EXPECT_STREQ(two, "x");
}

TEST_F(LineSocketTest, AnOverLongLineIsCutAndItsRestDiscarded)
{
    const std::string longLine(3000, 'L');
    deliver(longLine + "\r\nnext\r\n");
    std::vector<char> line(2048);
    ASSERT_TRUE(testing::readLineWithin(pair.server, line.data(), line.size()));
    EXPECT_EQ(std::string(line.data()), std::string(2047, 'L'));
    EXPECT_EQ(readLineText(pair.server), "next");
}

TEST_F(LineSocketTest, ManySmallLinesComeOutInOrder)
{
    std::string burst;
    for (int i = 0; i < 20000; ++i) {
        burst += std::to_string(i) + "\r\n";
    }
    ASSERT_TRUE(sendAll(pair.client, burst));
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(readLineText(pair.server), std::to_string(i));
    }
}

TEST_F(LineSocketTest, ReceiveSomeHandsOutBufferedBytesBeforeTheNetwork)
{
    deliver("STOR a\r\nfirst");
    EXPECT_EQ(readLineText(pair.server), "STOR a");
    ASSERT_TRUE(pair.server.hasBufferedBytes());
    char bytes[3];
    std::size_t length = sizeof bytes;
    ASSERT_TRUE(pair.server.receiveSome(bytes, length));
    EXPECT_EQ(std::string(bytes, length), "fir");
    deliver("second");
    EXPECT_EQ(testing::receiveBytes(pair.server, 8), "stsecond");
}

TEST_F(LineSocketTest, UnreadBytesComeBackFirstAndMayHoldLines)
{
    deliver("DATA\r\nbody\r\n.\r\nNO");
    EXPECT_EQ(readLineText(pair.server), "DATA");
    char bytes[64];
    std::size_t length = 10;
    ASSERT_TRUE(pair.server.receiveSome(bytes, length));
    ASSERT_EQ(std::string(bytes, length), "body\r\n.\r\nN");
    // The reader handed out more than the data block; the rest goes back
    // in front of what it still holds.
    ASSERT_TRUE(pair.server.unread(bytes + 9, 1));
    deliver("OP\r\nQUIT\r\n");
    EXPECT_EQ(readLineText(pair.server), "NOOP");
    EXPECT_EQ(readLineText(pair.server), "QUIT");

    // Bounded: too much at once, or beyond the input limit, is refused.
    const std::string big(LineSocket::UnreadLimit + 1, 'u');
    EXPECT_FALSE(pair.server.unread(big.data(), big.size()));
    const std::string chunk(LineSocket::UnreadLimit, 'u');
    int accepted = 0;
    while (pair.server.unread(chunk.data(), chunk.size()) && accepted < 100) {
        ++accepted;
    }
    EXPECT_EQ(static_cast<std::size_t>(accepted), (LineSocket::InputLimit + LineSocket::UnreadLimit) / chunk.size());
}

TEST_F(LineSocketTest, PeerCloseEndsWithConnectionLostAndAClosedSocket)
{
    EXPECT_STREQ(pair.server.peerAddress(), "127.0.0.1");
    EXPECT_EQ(pair.server.peerPort(), pair.client.localPort());
    deliver("partial");
    pair.client.close();
    char line[64];
    EXPECT_FALSE(testing::readLineWithin(pair.server, line, sizeof line));
    EXPECT_EQ(pair.server.lastError(), SocketError::ConnectionLost);
    EXPECT_EQ(pair.server.state(), SocketState::Closed);
    EXPECT_FALSE(pair.server.hasBufferedBytes());
    EXPECT_STREQ(pair.server.peerAddress(), "0.0.0.0");
    EXPECT_EQ(pair.server.peerPort(), 0);

    std::size_t length = 5;
    EXPECT_FALSE(pair.server.sendSome("hello", length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(pair.server.lastError(), SocketError::NotConnected);
}

// Only a clean close ends a stream: a reset tells the receiver that bytes
// may have been lost on the way (an upload that must not count as whole).
TEST(TcpSocketTest, AReceiveTellsACleanCloseFromAReset)
{
    struct Case {
        const char* name;
        void (TcpSocket::*end)();
        SocketError error;
    };
    for (const Case& c : {Case{"close", &TcpSocket::shutdownAndClose, SocketError::ConnectionLost},
                          Case{"reset", &TcpSocket::resetAndClose, SocketError::ConnectionReset}}) {
        LoopbackPair pair;
        ASSERT_TRUE(pair.connect()) << c.name;
        ASSERT_TRUE(sendAll(pair.client, "some bytes"));
        ASSERT_TRUE(waitReadable(pair.server));
        (pair.client.*c.end)();
        char buffer[64];
        std::string received;
        ASSERT_TRUE(waitUntil([&] {
            std::size_t length = sizeof buffer;
            if (!pair.server.receiveSome(buffer, length))
                return true;
            received.append(buffer, length);
            return false;
        })) << c.name;
        EXPECT_EQ(received, "some bytes") << c.name;
        EXPECT_EQ(pair.server.lastError(), c.error) << c.name;
        EXPECT_FALSE(pair.server.isConnected()) << c.name;
    }
}

TEST_F(LineSocketTest, InputWithoutALineEndIsCutOffAt64KiB)
{
    // Just below the limit a line is still read whole.
    const std::string bigLine(LineSocket::InputLimit - 2, 'b');
    ASSERT_TRUE(sendAll(pair.client, bigLine + "\r\n"));
    std::vector<char> line(LineSocket::InputLimit);
    ASSERT_TRUE(testing::readLineWithin(pair.server, line.data(), line.size()));
    EXPECT_EQ(std::strlen(line.data()), bigLine.size());

    ASSERT_TRUE(sendAll(pair.client, std::string(LineSocket::InputLimit, 'x')));
    EXPECT_FALSE(testing::readLineWithin(pair.server, line.data(), line.size()));
    EXPECT_EQ(pair.server.lastError(), SocketError::ConnectionLost);
    EXPECT_FALSE(pair.server.isConnected());
}

TEST_F(LineSocketTest, SendSomeOnAFullBufferReportsZeroBytesAndSuccess)
{
    const std::string block(64 * 1024, 'z');
    std::size_t total = 0;
    bool sawFull = false;
    while (!sawFull && total < 256u * 1024 * 1024) {
        std::size_t length = block.size();
        ASSERT_TRUE(pair.server.sendSome(block.data(), length));
        total += length;
        sawFull = length == 0;
    }
    ASSERT_TRUE(sawFull);
    EXPECT_EQ(pair.server.bytesSent(), static_cast<std::uint32_t>(total));
    EXPECT_TRUE(pair.server.isConnected());
}

// Sending a file after the sending side has ended fails with EPIPE, for
// which sendfile raises SIGPIPE (it cannot be told MSG_NOSIGNAL). Under the
// default action that signal would end this test's process.
TEST_F(LineSocketTest, SendingAFileOnAnEndedConnectionFailsWithoutEndingTheProcess)
{
    char path[] = "/tmp/vt-sendfile-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    ::unlink(path);
    ASSERT_EQ(::write(file, "0123456789", 10), 10);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGPIPE, &defaultAction, &previous), 0);

    std::uint64_t offset = 3;
    std::size_t length = 4;
    bool ended = true;
    ASSERT_TRUE(pair.server.sendFileSome(file, offset, length, ended));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(offset, 7u);
    EXPECT_FALSE(ended);
    EXPECT_EQ(testing::receiveBytes(pair.client, 4), "3456");

    pair.server.shutdownSending();
    length = 3;
    EXPECT_FALSE(pair.server.sendFileSome(file, offset, length, ended));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(pair.server.isConnected());
    ::sigaction(SIGPIPE, &previous, nullptr);
    ::close(file);
}

TEST(TcpSocketTest, BytesAreCountedAcrossConnectionsAndTakeFromMovesTheConnection)
{
    TcpSocket listener;
    ASSERT_TRUE(listener.listenOn(0));
    TcpSocket client;
    TcpSocket counted;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(client.connectTo("127.0.0.1", listener.localPort()));
        ASSERT_TRUE(waitUntil([&] { return listener.acceptInto(counted); }));
        ASSERT_TRUE(sendAll(client, "12345"));
        EXPECT_EQ(testing::receiveBytes(counted, 5), "12345");
        ASSERT_TRUE(sendAll(counted, "abc"));
        counted.close();
    }
    EXPECT_EQ(counted.bytesReceived(), 10u);
    EXPECT_EQ(counted.bytesSent(), 6u);

    TcpSocket moved;
    moved.takeFrom(client);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.descriptor(), -1);
    EXPECT_STREQ(client.peerAddress(), "0.0.0.0");
    ASSERT_TRUE(moved.isConnected());
    EXPECT_EQ(moved.peerPort(), listener.localPort());
    EXPECT_EQ(testing::receiveBytes(moved, 3), "abc");
    EXPECT_EQ(client.bytesReceived(), 0u); // totals stay with each object
}

TEST(TcpSocketTest, ListeningRulesAcceptOwnAndAddresses)
{
    TcpSocket first;
    ASSERT_TRUE(first.listenOn(0));
    const std::uint16_t port = first.localPort();
    EXPECT_NE(port, 0);
    EXPECT_EQ(first.state(), SocketState::Listening);
    EXPECT_STREQ(first.localAddress(), "0.0.0.0");

    TcpSocket second;
    EXPECT_FALSE(second.listenOn(port));
    EXPECT_EQ(second.lastError(), SocketError::BindFailed);
    EXPECT_EQ(second.state(), SocketState::Closed);

    TcpSocket notListening;
    TcpSocket target;
    EXPECT_FALSE(notListening.acceptInto(target));
    EXPECT_EQ(notListening.lastError(), SocketError::NotListening);
    EXPECT_FALSE(first.acceptInto(target));
    EXPECT_EQ(first.lastError(), SocketError::NothingToAccept);

    // One-shot listening: the connection replaces the listening socket. The
    // server end closes first, leaving the port in TIME_WAIT.
    TcpSocket client;
    ASSERT_TRUE(client.connectTo("127.0.0.1", port));
    ASSERT_TRUE(waitUntil([&] { return first.acceptOwn(); }));
    EXPECT_EQ(first.state(), SocketState::Connected);
    EXPECT_EQ(first.localPort(), port);
    EXPECT_EQ(first.peerPort(), client.localPort());
    EXPECT_STREQ(client.localAddress(), "127.0.0.1");
    EXPECT_EQ(client.peerIp(), first.localIp());
    first.shutdownAndClose();
    ASSERT_TRUE(testing::waitForPeerClose(client));

    TcpSocket again;
    EXPECT_TRUE(again.listenOn(port)) << "listening again right after close";
}

TEST(TcpSocketTest, ConnectFailures)
{
    TcpSocket socket;
    EXPECT_FALSE(socket.connectTo("", 80));
    EXPECT_EQ(socket.lastError(), SocketError::None);

    std::uint16_t freePort = 0;
    {
        TcpSocket probe;
        ASSERT_TRUE(probe.listenOn(0));
        freePort = probe.localPort();
    }
    EXPECT_FALSE(socket.connectTo("127.0.0.1", freePort));
    EXPECT_EQ(socket.lastError(), SocketError::ConnectFailed);
    EXPECT_EQ(socket.state(), SocketState::Closed);

    EXPECT_FALSE(socket.connectTo("no-such-host.invalid", 80));
    EXPECT_EQ(socket.lastError(), SocketError::HostNotFound);

    TcpSocket listener;
    ASSERT_TRUE(listener.listenOn(0));
    EXPECT_TRUE(socket.connectTo("localhost", listener.localPort()));
}

// Waits once for its socket to become readable.
class HighWaiter final : public WorkerThread {
public:
    explicit HighWaiter(const TcpSocket& socket) : socket_(socket) {}
    ~HighWaiter() override { stop(StopTimeoutMs); }
    std::atomic<bool> woken{false};

protected:
    void run() override
    {
        waitFor({{&socket_, WaitFor::Readable}}, -1);
        woken = !stopRequested();
    }

private:
    const TcpSocket& socket_;
};

TEST(TcpSocketTest, DescriptorsAboveTheSelectLimitWork)
{
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 1200) {
        GTEST_SKIP() << "descriptor limit too low: " << limit.rlim_max;
    }
    const rlimit original = limit;
    if (limit.rlim_cur < 1200) {
        limit.rlim_cur = 1200;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    std::vector<int> filler;
    for (int i = 0; i < 1100; ++i) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            break;
        }
        filler.push_back(fd);
    }
    {
        LoopbackPair pair;
        ASSERT_TRUE(pair.connect());
        EXPECT_GT(pair.server.descriptor(), 1023);
        HighWaiter waiter(pair.server);
        ASSERT_TRUE(waiter.start());
        ASSERT_TRUE(sendAll(pair.client, "high\r\n"));
        ASSERT_TRUE(waitUntil([&] { return waiter.woken.load(); }));
        EXPECT_EQ(readLineText(pair.server), "high");
    }
    for (int fd : filler) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &original);
}

} // namespace
} // namespace vantrel
