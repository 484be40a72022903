// Idle cost and reply latency of the session framework: a listener with a
// small line-echo session holds 1000 idle connections; the process's CPU
// time over several quiet windows gives the cost as a share of one core,
// and timed round trips of one line on the otherwise idle server give the
// reply latency. One unmeasured warm-up run precedes the measured ones;
// figures are medians, the summary line comes last.
#include "foundation/line_socket.h"
#include "foundation/service_listener.h"
#include "foundation/service_session.h"
#include "foundation/tcp_socket.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

constexpr int IdleConnections = 1000;
constexpr int CpuWindows = 5;
constexpr auto CpuWindow = std::chrono::seconds(3);
constexpr int LatencyRuns = 5;
constexpr int PingsPerRun = 2000;

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
            (void)sendLine(control(), line);
        }
    }
};

class EchoListener final : public ServiceListener {
public:
    EchoListener() : ServiceListener(IdleConnections + 10) {}
    ~EchoListener() override { deactivate(); }

protected:
    std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket) override
    {
        return std::make_unique<EchoSession>(std::move(socket));
    }
};

double processCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <typename T>
T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool raiseDescriptorLimit(rlim_t wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur >= wanted) {
        return true;
    }
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
        return false;
    }
    limit.rlim_cur = wanted;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool sendAll(TcpSocket& socket, const char* bytes, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        std::size_t count = length - done;
        if (!socket.sendSome(bytes + done, count)) {
            return false;
        }
        done += count;
        if (count == 0) {
            pollfd fd{socket.descriptor(), POLLOUT, 0};
            ::poll(&fd, 1, 1000);
        }
    }
    return true;
}

// Sends one line and waits for its echo; returns the round trip in
// microseconds, or a negative value on failure.
double pingOnce(LineSocket& client)
{
    static constexpr char Ping[] = "ping\r\n";
    char line[64];
    const auto begin = Clock::now();
    if (!sendAll(client, Ping, sizeof Ping - 1)) {
        return -1;
    }
    for (;;) {
        if (client.readLine(line, sizeof line)) {
            break;
        }
        if (client.lastError() != SocketError::NoLineYet) {
            return -1;
        }
        pollfd fd{client.descriptor(), POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0) {
            return -1;
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
}

double idleCpuPercent(std::chrono::seconds window)
{
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(window);
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    return 100.0 * cpu / wall;
}

double latencyRun(LineSocket& client, int pings)
{
    std::vector<double> trips;
    trips.reserve(static_cast<std::size_t>(pings));
    for (int i = 0; i < pings; ++i) {
        const double trip = pingOnce(client);
        if (trip < 0) {
            return -1;
        }
        trips.push_back(trip);
        // Let the server fall idle again between commands.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return median(trips);
}

} // namespace

int main()
{
    if (!raiseDescriptorLimit(2 * IdleConnections + 200)) {
        std::fprintf(stderr, "cannot raise the descriptor limit to %d\n", 2 * IdleConnections + 200);
        return 1;
    }
    EchoListener listener;
    if (!listener.activate(0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    const std::uint16_t port = listener.listeningPort();

    std::vector<std::unique_ptr<LineSocket>> clients;
    const auto connectStart = Clock::now();
    for (int i = 0; i < IdleConnections; ++i) {
        auto client = std::make_unique<LineSocket>();
        if (!client->connectTo("127.0.0.1", port)) {
            std::fprintf(stderr, "connection %d failed\n", i);
            return 1;
        }
        clients.push_back(std::move(client));
        // The listen backlog is 5: connecting faster than sessions start
        // would only measure SYN retransmissions.
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (listener.connectionCount() < i + 1 && Clock::now() < deadline) {
            std::this_thread::yield();
        }
    }
    if (listener.connectionCount() < IdleConnections) {
        std::fprintf(stderr, "only %d sessions came up\n", listener.connectionCount());
        return 1;
    }
    std::printf("%d idle sessions connected in %.1f s\n", listener.connectionCount(),
                std::chrono::duration<double>(Clock::now() - connectStart).count());

    std::printf("warm-up: idle cost %.3f%% of one core\n", idleCpuPercent(std::chrono::seconds(2)));
    std::vector<double> cpu;
    for (int i = 0; i < CpuWindows; ++i) {
        cpu.push_back(idleCpuPercent(CpuWindow));
        std::printf("window %d: idle cost %.3f%% of one core\n", i + 1, cpu.back());
    }

    LineSocket& pinger = *clients.front();
    if (latencyRun(pinger, 200) < 0) {
        std::fprintf(stderr, "warm-up pings failed\n");
        return 1;
    }
    std::vector<double> latency;
    for (int i = 0; i < LatencyRuns; ++i) {
        const double run = latencyRun(pinger, PingsPerRun);
        if (run < 0) {
            std::fprintf(stderr, "pings failed\n");
            return 1;
        }
        latency.push_back(run);
        std::printf("run %d: median round trip %.1f us over %d lines\n", i + 1, run, PingsPerRun);
    }

    std::printf("1000 idle sessions: %.3f%% of one core (goal < 1%%); "
                "median round trip of one line: %.1f us (goal < 100 us)\n",
                median(cpu), median(latency));
    return 0;
}
