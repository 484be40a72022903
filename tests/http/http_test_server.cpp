// A stand-alone web server for the client tests and the benchmarks: runs an
// HttpService in a given working folder on a port the system picks, prints
// "PORT <n>" and serves until its standard input closes or SIGTERM arrives.
//
// Usage: http_test_server <working folder> [--default-folder F]
//        [--default-page P] [--folder-view on|off] [--admin PASSWORD]
//        [--domain NAME=FOLDER]... [--per-address-cap N] [--https-port N]
// Settings found in the folder's http.dat/httpdomains.dat load first; the
// options override them. The line "count" on stdin prints "COUNT <n>", the
// live connections. With an HTTPS port it also prints "HTTPS <n>" and
// serves TLS with the self-signed certificate it makes in the folder's "tls".
#include "foundation/file_system.h"
#include "foundation/tcp_socket.h"
#include "foundation/tls_certificate.h"
#include "http/http_service.h"
#include "test_server_loop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

using vantrel::HttpService;

constexpr int TickMs = 1000;

bool applyOption(HttpService& service, std::string_view name, std::string_view value)
{
    auto& site = service.site();
    if (name == "--default-folder") {
        site.setDefaultFolder(value);
    } else if (name == "--default-page") {
        site.setDefaultPage(value);
    } else if (name == "--folder-view") {
        site.setFolderView(value == "on");
    } else if (name == "--admin") {
        site.setAdminPassword(value);
    } else if (name == "--https-port") {
        service.setHttpsPort(static_cast<std::uint16_t>(std::atoi(std::string(value).c_str())));
    } else if (name == "--per-address-cap") {
        service.setPerAddressCap(std::atoi(std::string(value).c_str()));
    } else if (name == "--domain") {
        const auto eq = value.find('=');
        if (eq == std::string_view::npos)
            return false;
        return site.addDomainMap(value.substr(0, eq), value.substr(eq + 1));
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s <working folder> [--option value]...\n", argv[0]);
        return 2;
    }
    const int signals = vantrel::testing::enterWorkFolder(argv[1], "http");
    if (signals < 0)
        return 2;
    HttpService service;
    if (!vantrel::pathExists(HttpService::DomainsFile))
        service.log().openNumber(0);
    else if (!service.loadSettings())
        std::fprintf(stderr, "settings did not load\n");
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!applyOption(service, argv[i], argv[i + 1])) {
            std::fprintf(stderr, "bad option %s %s\n", argv[i], argv[i + 1]);
            return 2;
        }
    }
    service.setPort(0);
    service.useCertificate(std::make_shared<vantrel::TlsCertificate>());
    if (!service.activate()) {
        std::fprintf(stderr, "activation failed\n");
        return 1;
    }
    std::printf("PORT %u\n", static_cast<unsigned>(service.listeningPort()));
    if (service.httpsPort() != 0)
        std::printf("HTTPS %u\n", static_cast<unsigned>(service.listeningHttpsPort()));
    std::fflush(stdout);

    // The log rolls over once a second as the main window does.
    vantrel::testing::serveCommands(
        signals,
        [&service](const std::string& line) {
            if (line == "count")
                std::printf("COUNT %d\n", service.connectionCount());
        },
        TickMs, [&service] { service.tick(); });
    service.deactivate();
    return 0;
}
