// A harness that runs the FTP service for the protocol tests and the
// benchmarks. Usage:
//   ftp_test_server <working folder> [--welcome=TEXT] [--idle-ms=N] [user:password:rights:folder]...
// It works in the given folder (settings, logs), adds the accounts, saves
// and reloads the settings, activates on a port of the system's choice and
// prints "PORT <n>". Lines on stdin steer it: "deactivate" (prints
// "DEACTIVATED") and "count" (prints "COUNT <n>"). It ends when stdin
// closes or on SIGTERM/SIGINT, deactivating first.
#include "foundation/file_system.h"
#include "foundation/tcp_socket.h"
#include "ftp/ftp_service.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace vantrel;

namespace {

bool parseAccount(std::string_view text, FtpAccount& account)
{
    const std::size_t a = text.find(':');
    const std::size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    const std::size_t c = b == std::string_view::npos ? b : text.find(':', b + 1);
    if (c == std::string_view::npos)
        return false;
    account.user = std::string(text.substr(0, a));
    account.password = std::string(text.substr(a + 1, b - a - 1));
    account.rights = static_cast<AccessRights>(std::strtoul(std::string(text.substr(b + 1, c - b - 1)).c_str(), nullptr, 10));
    account.folder = std::string(text.substr(c + 1));
    if (!account.folder.empty() && account.folder.back() != '\\')
        account.folder.push_back('\\');
    return true;
}

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool activateAndReport(FtpService& service)
{
    if (!service.activate()) {
        std::printf("ACTIVATION FAILED\n");
        std::fflush(stdout);
        return false;
    }
    std::printf("PORT %u\n", static_cast<unsigned>(service.listeningPort()));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <working folder> [--welcome=TEXT] [user:password:rights:folder]...\n", argv[0]);
        return 2;
    }
    if (::chdir(argv[1]) != 0) {
        std::perror("chdir");
        return 2;
    }
    raiseDescriptorLimit();
    createDirectory("logs");
    createDirectory("ftp");

    // Every thread inherits the blocked signals; the main thread takes
    // them from the signalfd.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalDescriptor = ::signalfd(-1, &signals, SFD_CLOEXEC);

    std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs;
    for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]).rfind("--idle-ms=", 0) == 0)
            idleLimitMs = static_cast<std::uint32_t>(std::strtoul(argv[i] + 10, nullptr, 10));
    }
    FtpService service(idleLimitMs);
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg.rfind("--idle-ms=", 0) == 0)
            continue;
        if (arg.rfind("--welcome=", 0) == 0) {
            service.accounts().setWelcome(arg.substr(10));
            continue;
        }
        FtpAccount account;
        if (!parseAccount(arg, account) || !service.accounts().addOrUpdate(account)) {
            std::fprintf(stderr, "bad account: %s\n", argv[i]);
            return 2;
        }
    }
    if (!service.saveSettings() || !service.loadSettings()) {
        std::fprintf(stderr, "settings round trip failed\n");
        return 1;
    }
    service.setPort(0);
    if (!activateAndReport(service))
        return 1;

    std::string pending;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signalDescriptor, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            break;
        if (fds[0].revents == 0)
            continue;
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0)
            break;
        pending.append(chunk, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line == "deactivate") {
                service.deactivate();
                std::printf("DEACTIVATED\n");
            } else if (line == "count") {
                std::printf("COUNT %d\n", service.connectionCount());
            }
            std::fflush(stdout);
        }
    }
    service.deactivate();
    return 0;
}
