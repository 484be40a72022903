// TLS on a loopback pair of our own sockets, both sides ours: the handshake,
// what each side learns of it, and bytes received into a pipe smaller than
// a TLS record, which must all arrive in order.
#include "foundation/kernel_pipe.h"
#include "foundation/line_socket.h"
#include "foundation/tcp_socket.h"
#include "foundation/tls_context.h"

#include "net_test_support.h"
#include "scratch_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

namespace vantrel {
namespace {

using testing::LoopbackPair;
using testing::ScratchFolder;

bool handshakeBoth(TcpSocket& server, TcpSocket& client)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool serverDone = false;
    bool clientDone = false;
    while (!(serverDone && clientDone) && std::chrono::steady_clock::now() < deadline) {
        for (auto [socket, done] : {std::pair{&server, &serverDone}, std::pair{&client, &clientDone}}) {
            if (*done)
                continue;
            const TlsProgress progress = socket->continueTls();
            if (progress == TlsProgress::Failed)
                return false;
            *done = progress == TlsProgress::Done;
        }
    }
    return serverDone && clientDone;
}

TEST(TlsSocketTest, AHandshakeThenRecordsThroughASmallPipeArriveWholeAndInOrder)
{
    ScratchFolder dir;
    std::string whyNot;
    ASSERT_TRUE(makeSelfSignedCertificate(dir / "c.pem", dir / "k.pem", "localhost", whyNot)) << whyNot;
    const auto context = TlsContext::fromFiles(dir / "c.pem", dir / "k.pem", whyNot);
    ASSERT_TRUE(context) << whyNot;

    LoopbackPair pair;
    ASSERT_TRUE(pair.connect());
    ASSERT_TRUE(pair.server.startTls(context, TlsScope::fresh()));
    ASSERT_TRUE(pair.client.startClientTls(TlsContext::forClients(), "localhost"));
    ASSERT_TRUE(handshakeBoth(pair.server, pair.client));
    EXPECT_STREQ(pair.server.tlsVersion(), "TLSv1.3");
    EXPECT_FALSE(pair.server.tlsResumed());
    EXPECT_FALSE(pair.client.tlsPeerVerified()); // self-signed: no authority vouches for it

    // A pipe of two pages, as a process over its share of pipe memory gets.
    KernelPipe pipe;
    ASSERT_TRUE(pipe.open(8192));
    ASSERT_EQ(::fcntl(pipe.writeEnd(), F_SETPIPE_SZ, 8192), 8192);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0); // where the pipe's bytes are drained to
    std::string sent(256 * 1024, '\0');
    std::mt19937 random(7);
    for (char& c : sent)
        c = static_cast<char>(random());

    std::string received;
    std::size_t offset = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
        if (offset < sent.size()) {
            std::size_t length = sent.size() - offset;
            ASSERT_TRUE(pair.client.sendSome(sent.data() + offset, length));
            offset += length;
        }
        std::size_t length = 8192;
        ASSERT_TRUE(pair.server.receiveIntoPipe(pipe.writeEnd(), length)) << static_cast<int>(pair.server.lastError());
        ASSERT_LE(length, 8192u);
        if (length == 0)
            continue;
        ASSERT_TRUE(pipe.drainTo(ends[1], length));
        char chunk[8192];
        const ssize_t got = ::read(ends[0], chunk, sizeof chunk);
        ASSERT_EQ(got, static_cast<ssize_t>(length));
        received.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";
}

} // namespace
} // namespace vantrel
