// The shared main loop of the protocol test servers: signals through a
// signalfd, steering lines from stdin.
#include "test_server_loop.h"

#include "foundation/file_system.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

namespace vantrel::testing {

namespace {

// Steering lines are a few words; a longer run without a line break is dropped.
constexpr std::size_t MaxPending = 64 * 1024;

} // namespace

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int blockStopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return ::signalfd(-1, &signals, SFD_CLOEXEC);
}

int enterWorkFolder(const char* folder, const char* serviceFolder)
{
    if (::chdir(folder) != 0) {
        std::perror("chdir");
        return -1;
    }
    createDirectory("logs");
    createDirectory(serviceFolder);
    return blockStopSignals();
}

void serveCommands(int stopSignals, const std::function<void(const std::string&)>& onLine, int tickMs,
                   const std::function<void()>& onTick)
{
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {stopSignals, POLLIN, 0}};
        const int ready = ::poll(fds, 2, tickMs);
        if (onTick)
            onTick();
        if (ready <= 0)
            continue;
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0)
            return;
        pending.append(chunk, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            onLine(line);
            std::fflush(stdout);
        }
        if (pending.size() > MaxPending)
            pending.clear();
    }
}

} // namespace vantrel::testing
