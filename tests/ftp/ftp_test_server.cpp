// A harness that runs the FTP service for the protocol tests and the
// benchmarks. Usage:
//   ftp_test_server <working folder> [--welcome=TEXT] [--idle-ms=N] [--per-address-cap=N]
//                   [--failed-login-limit=N] [--tls=on|require] [--tls-any-data]
//                   [user:password:rights:folder]...
// It works in the given folder (settings, logs), adds the accounts, saves
// and reloads the settings (TLS uses the self-signed certificate that it
// makes in the folder's "tls"), activates on a port of the system's choice and
// prints "PORT <n>". Lines on stdin steer it: "deactivate" (prints
// "DEACTIVATED"), "count" (prints "COUNT <n>"), "bytes" (prints "BYTES
// <in> <out>", the service's byte totals) and "advance MS", which moves
// the clock on (prints "ADVANCED"). It ends when stdin closes or on
// SIGTERM/SIGINT, deactivating first.
#include "foundation/clock.h"
#include "foundation/tcp_socket.h"
#include "ftp/ftp_service.h"
#include "test_server_loop.h"

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
    account.rights =
        static_cast<AccessRights>(std::strtoul(std::string(text.substr(b + 1, c - b - 1)).c_str(), nullptr, 10));
    account.folder = std::string(text.substr(c + 1));
    if (!account.folder.empty() && account.folder.back() != '\\')
        account.folder.push_back('\\');
    return true;
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
    testing::raiseDescriptorLimit();
    const int signalDescriptor = testing::enterWorkFolder(argv[1], "ftp");
    if (signalDescriptor < 0)
        return 2;

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
        if (arg.rfind("--per-address-cap=", 0) == 0) {
            service.setPerAddressCap(std::atoi(argv[i] + 18));
            continue;
        }
        if (arg.rfind("--failed-login-limit=", 0) == 0) {
            service.setFailedLoginLimit(std::atoi(argv[i] + 21));
            continue;
        }
        if (arg.rfind("--tls=", 0) == 0) {
            FtpTlsSettings tls = service.tlsSettings();
            if (!parseTlsModeWord(arg.substr(6), tls.mode)) {
                std::fprintf(stderr, "bad TLS mode: %s\n", argv[i]);
                return 2;
            }
            service.setTlsSettings(tls);
            continue;
        }
        if (arg == "--tls-any-data") {
            FtpTlsSettings tls = service.tlsSettings();
            tls.anyDataConnection = true;
            service.setTlsSettings(tls);
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

    testing::serveCommands(signalDescriptor, [&service](const std::string& line) {
        if (line == "deactivate") {
            service.deactivate();
            std::printf("DEACTIVATED\n");
        } else if (line == "count") {
            std::printf("COUNT %d\n", service.connectionCount());
        } else if (line.rfind("advance ", 0) == 0) {
            advanceTickCount(static_cast<std::uint32_t>(std::strtoul(line.c_str() + 8, nullptr, 10)));
            std::printf("ADVANCED\n");
        } else if (line == "bytes") {
            std::printf("BYTES %llu %llu\n", static_cast<unsigned long long>(service.totalBytesIn()),
                        static_cast<unsigned long long>(service.totalBytesOut()));
        }
    });
    service.deactivate();
    return 0;
}
