// The control socket: its messages survive the trip and anything else is
// refused, and the server thread hands a request to its owner or refuses
// it, but never both: a request the owner has not taken up when the server
// closes, or within the owner's wait, is answered as refused and never runs.
#include "scratch_folder.h"

#include "foundation/control_server.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

TEST(ControlChannelTest, MessagesRoundTripAndMalformedOnesAreRefused)
{
    const std::vector<std::string> words{"task", "", "with\nnewline", std::string(1000, 'x')};
    std::vector<std::string> decoded;
    ASSERT_TRUE(decodeControlRequest(encodeControlRequest(words), decoded));
    EXPECT_EQ(decoded, words);
    const std::string tooMany = encodeControlRequest(std::vector<std::string>(ControlWordLimit + 1, "w"));
    for (const std::string& bad :
         {std::string(), std::string("no end"), tooMany, std::string(ControlRequestLimit + 1, '\0')})
        EXPECT_FALSE(decodeControlRequest(bad, decoded)) << bad.size();

    const ControlReply reply{3, "out\0put", "err"};
    ControlReply back;
    ASSERT_TRUE(decodeControlReply(encodeControlReply(reply), back));
    EXPECT_EQ(back.code, 3);
    EXPECT_EQ(back.out, reply.out);
    EXPECT_EQ(back.err, "err");
    for (const char* bad : {"0 1 1\nabc", "0 1 1\na", "0 1\nab", "x 0 0\n", "0 0 0", "0 -1 0\n", "0 0 0 \n"})
        EXPECT_FALSE(decodeControlReply(bad, back)) << bad;
}

class ControlServerTest : public ::testing::Test {
protected:
    // Sends raw bytes, ends the sending side and returns the reply.
    ControlReply askBytes(const std::string& bytes)
    {
        ControlFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_TRUE(writeControlMessage(fd.get(), bytes));
        std::string answer;
        ControlReply reply;
        EXPECT_TRUE(readControlMessage(fd.get(), ControlReplyLimit, ControlReplyWaitMs, answer));
        EXPECT_TRUE(decodeControlReply(answer, reply)) << answer;
        return reply;
    }
    ControlReply ask(const std::vector<std::string>& words) { return askBytes(encodeControlRequest(words)); }

    bool waitForRequest(ControlServer& server)
    {
        pollfd item{server.wakeDescriptor(), POLLIN, 0};
        return ::poll(&item, 1, 5000) == 1;
    }

    testing::ScratchFolder scratch;
    std::string path = scratch / "control";
    std::atomic<int> ran{0};
    ControlServer::Handler handler = [this](std::span<const std::string> words) {
        ++ran;
        return ControlReply{0, words.empty() ? "" : words.back(), ""};
    };
};

TEST_F(ControlServerTest, TheOwnerAnswersOrTheRequestIsRefusedUnrun)
{
    ControlServer server(path, 300);
    std::string why;
    ASSERT_TRUE(server.open(why)) << why;

    // Answered on the owner's thread.
    std::thread client([&] {
        EXPECT_EQ(ask({"status", "json"}).out, "json");
        EXPECT_EQ(askBytes("no zero at the end").code, 2);
    });
    ASSERT_TRUE(waitForRequest(server));
    server.runPending(&handler);
    client.join();
    EXPECT_EQ(ran, 1);

    // An owner that is busy for longer than its wait: refused, never run.
    std::thread late([&] { EXPECT_EQ(ask({"task", "late"}).err, TextControlBusy); });
    ASSERT_TRUE(waitForRequest(server));
    server.runPending(nullptr);
    late.join();
    server.runPending(&handler);
    EXPECT_EQ(ran, 1);

    // Closing while a request waits: refused as ending, never run.
    std::thread ending([&] { EXPECT_EQ(ask({"task", "ending"}).err, TextControlEnding); });
    ASSERT_TRUE(waitForRequest(server));
    server.close();
    ending.join();
    server.runPending(&handler);
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ControlServerTest, ASocketLeftBehindIsReplacedAndOnlyTheOwnerMayConnect)
{
    {
        ControlFd stale;
        std::string why;
        ASSERT_TRUE(listenControl(path, stale, why)) << why;
    }
    ControlServer server(path);
    std::string why;
    ASSERT_TRUE(server.open(why)) << why;
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ControlFd fd;
    EXPECT_EQ(connectControl(path, fd, why), ControlConnect::Connected) << why;

    // A folder others may write is no place to trust a socket in.
    ASSERT_EQ(::chmod(scratch.path().c_str(), 0777), 0);
    EXPECT_EQ(connectControl(path, fd, why), ControlConnect::Unsafe);
    ASSERT_EQ(::chmod(scratch.path().c_str(), 01777), 0);
    EXPECT_EQ(connectControl(path, fd, why), ControlConnect::Connected) << why;
    ASSERT_EQ(::chmod(scratch.path().c_str(), 0700), 0);
    server.close();
    EXPECT_EQ(connectControl(path, fd, why), ControlConnect::NoServer);
}

} // namespace
} // namespace vantrel
