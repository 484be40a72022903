// A harness that runs the email service for the protocol tests and the
// benchmarks. Usage:
//   email_test_server <working folder> [option]... [user:password:address]...
// Options:
//   --local-domain=NAME    the local domain ("localhost" of emailmapper.dat)
//   --catch-all=USER       the catch-all user
//   --relay-host=HOST      the relay host
//   --relay-port=N         the port the relay host listens on (25 by default)
//   --relay-subnet=PREFIX  the relay subnet
//   --max-email=BYTES      the largest message accepted
//   --max-account=BYTES    the quota of one mailbox
//   --banned=LIST          the banned attachment extensions, blank-separated
//   --idle-ms=N            the sessions' idle limit
//   --retry-ms=N           the wait before a failed copy is tried again
//   --smtp-port=N          the SMTP port (0 by default: the system picks one)
//   --smtp-per-address-cap=N, --pop3-per-address-cap=N, --pop3-failed-login-limit=N
//                          the limits per client address
//   --tls=on|require       mail TLS (the self-signed certificate it makes in
//                          the folder's "tls")
//   --relay-requires-tls   relay recipients only on TLS connections
//   --relay-host-requires-tls  the relay client only over verified TLS
//   --implicit-tls         the implicit SMTPS and POP3S listeners too, on
//                          ports free when it starts; their ports follow
//                          as "SMTPS <port>" and "POP3S <port>"
// It works in the given folder (settings, logs, the "email" folder), loads
// what is there, adds or updates the accounts (user names and addresses as
// given: lowercase them yourself), saves, activates SMTP and POP3 on ports
// of the system's choice (SMTP on the one --smtp-port names, if given) and
// prints "SMTP <port>" and "POP3 <port>" (or "ACTIVATION FAILED" and ends
// with status 1).
// Lines on stdin steer it, each answered with one line:
//   deactivate             "DEACTIVATED"
//   activate               "SMTP <port>" and "POP3 <port>", or "ACTIVATION FAILED"
//   count                  "COUNT <connections>"
//   save                   "SAVED" or "SAVE FAILED"
//   add user:password:address   "ADDED" or "ADD FAILED"
//   remove USER            "REMOVED" or "REMOVE FAILED"
//   mailbox USER           "MAILBOX <listed messages> <stored bytes> <next number> <locked 0|1>"
//                          or "NO ACCOUNT". An SMTP session delivers after
//                          the connection ends: poll until the figures are
//                          the ones expected.
//   queue                  "QUEUE <entries>": messages acknowledged and not yet
//                          delivered (in the folder "mailqueue")
//   advance MS             "ADVANCED": the clock moves on by MS milliseconds
// It ends when stdin closes or on SIGTERM/SIGINT, deactivating and saving first.
#include "email/email_service.h"
#include "email/mail_account.h"
#include "foundation/clock.h"
#include "foundation/file_replace.h"
#include "foundation/tcp_socket.h"
#include "test_server_loop.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vantrel;

namespace {

bool addAccount(EmailService& service, std::string_view text)
{
    const std::size_t first = text.find(':');
    const std::size_t last = text.rfind(':');
    if (first == std::string_view::npos || first == last)
        return false;
    return service.directory().addOrUpdateAccount(text.substr(0, first), text.substr(last + 1),
                                                  text.substr(first + 1, last - first - 1));
}

// "--name=value": the value when arg has that name.
bool optionValue(std::string_view arg, std::string_view name, std::string_view& value)
{
    if (arg.size() < name.size() + 3 || arg.substr(0, 2) != "--" || arg.substr(2, name.size()) != name ||
        arg[name.size() + 2] != '=')
        return false;
    value = arg.substr(name.size() + 3);
    return true;
}

std::int32_t number(std::string_view text)
{
    return static_cast<std::int32_t>(std::strtol(std::string(text).c_str(), nullptr, 10));
}

// A loopback port that is free now. The implicit ports cannot be 0, which
// means none; a port taken again in between fails the activation loudly.
std::uint16_t freePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (probe >= 0)
        ::close(probe);
    return port;
}

bool applyTlsOption(EmailService& service, std::string_view arg)
{
    MailTlsSettings tls = service.tlsSettings();
    std::string_view value;
    if (optionValue(arg, "tls", value)) {
        if (!parseTlsModeWord(value, tls.mode))
            return false;
    } else if (arg == "--relay-requires-tls") {
        tls.relayRequiresTls = true;
    } else if (arg == "--relay-host-requires-tls") {
        tls.relayHostRequiresTls = true;
    } else if (arg == "--implicit-tls") {
        tls.smtpsPort = freePort();
        tls.pop3sPort = freePort();
        if (tls.smtpsPort == 0 || tls.pop3sPort == 0 || tls.smtpsPort == tls.pop3sPort)
            return false;
    } else {
        return false;
    }
    service.setTlsSettings(tls);
    return true;
}

bool applyOption(EmailService& service, std::string_view arg)
{
    MailDirectory& directory = service.directory();
    std::string_view value;
    if (applyTlsOption(service, arg))
        return true;
    if (optionValue(arg, "smtp-per-address-cap", value))
        service.setSmtpPerAddressCap(number(value));
    else if (optionValue(arg, "pop3-per-address-cap", value))
        service.setPopPerAddressCap(number(value));
    else if (optionValue(arg, "pop3-failed-login-limit", value))
        service.setPopFailedLoginLimit(number(value));
    else if (optionValue(arg, "local-domain", value))
        directory.setLocalDomain(value);
    else if (optionValue(arg, "catch-all", value))
        directory.setCatchAllUser(value);
    else if (optionValue(arg, "relay-host", value))
        directory.setRelayHost(value);
    else if (optionValue(arg, "relay-subnet", value))
        directory.setRelaySubnet(value);
    else if (optionValue(arg, "max-email", value))
        directory.setMaxEmailSize(number(value));
    else if (optionValue(arg, "max-account", value))
        directory.setMaxAccountSize(number(value));
    else if (optionValue(arg, "banned", value))
        directory.setBannedExtensions(value);
    else // taken before the service is made
        return optionValue(arg, "idle-ms", value) || optionValue(arg, "relay-port", value) ||
               optionValue(arg, "retry-ms", value) || optionValue(arg, "smtp-port", value);
    return true;
}

bool activateAndReport(EmailService& service)
{
    if (!service.activate()) {
        std::printf("ACTIVATION FAILED\n");
        return false;
    }
    std::printf("SMTP %u\nPOP3 %u\n", static_cast<unsigned>(service.smtpListeningPort()),
                static_cast<unsigned>(service.popListeningPort()));
    if (service.smtpsListeningPort() != 0)
        std::printf("SMTPS %u\nPOP3S %u\n", static_cast<unsigned>(service.smtpsListeningPort()),
                    static_cast<unsigned>(service.pop3sListeningPort()));
    return true;
}

void describeMailbox(EmailService& service, std::string_view user)
{
    const auto account = service.directory().account(user);
    if (!account) {
        std::printf("NO ACCOUNT\n");
        return;
    }
    auto transaction = account->open(OpenMode::Browse);
    std::printf("MAILBOX %d %llu %u %d\n", transaction->liveCount(),
                static_cast<unsigned long long>(account->storedSize()), account->nextMessageNumber(),
                account->isLoginLocked() ? 1 : 0);
    (void)service.directory().commitDelivery(std::move(transaction));
}

void runCommand(EmailService& service, const std::string& line)
{
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string_view rest =
        blank == std::string::npos ? std::string_view() : std::string_view(line).substr(blank + 1);
    if (word == "deactivate") {
        service.deactivate();
        std::printf("DEACTIVATED\n");
    } else if (word == "activate") {
        activateAndReport(service);
    } else if (word == "count") {
        std::printf("COUNT %d\n", service.connectionCount());
    } else if (word == "save") {
        std::printf(service.saveSettings() ? "SAVED\n" : "SAVE FAILED\n");
    } else if (word == "add") {
        std::printf(addAccount(service, rest) ? "ADDED\n" : "ADD FAILED\n");
    } else if (word == "remove") {
        std::printf(service.directory().removeAccount(rest) ? "REMOVED\n" : "REMOVE FAILED\n");
    } else if (word == "mailbox") {
        describeMailbox(service, rest);
    } else if (word == "queue") {
        std::printf("QUEUE %zu\n", service.queue().size());
    } else if (word == "advance") {
        advanceTickCount(static_cast<std::uint32_t>(std::strtoul(std::string(rest).c_str(), nullptr, 10)));
        std::printf("ADVANCED\n");
    } else {
        std::printf("UNKNOWN\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <working folder> [--option=value]... [user:password:address]...\n", argv[0]);
        return 2;
    }
    testing::raiseDescriptorLimit();
    const int signalDescriptor = testing::enterWorkFolder(argv[1], "email");
    if (signalDescriptor < 0)
        return 2;
    // As the program does at start: what a killed run left while it saved.
    for (const char* folder : {".", "email"})
        (void)removeStaleTemporaryFiles(folder);

    std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs;
    std::uint16_t relayPort = EmailService::RelayPort;
    std::uint32_t retryMs = EmailService::CopyRetryMs;
    std::uint16_t smtpPort = 0;
    for (int i = 2; i < argc; ++i) {
        std::string_view value;
        if (optionValue(argv[i], "retry-ms", value))
            retryMs = static_cast<std::uint32_t>(std::strtoul(std::string(value).c_str(), nullptr, 10));
        if (optionValue(argv[i], "idle-ms", value))
            idleLimitMs = static_cast<std::uint32_t>(std::strtoul(std::string(value).c_str(), nullptr, 10));
        if (optionValue(argv[i], "relay-port", value))
            relayPort = static_cast<std::uint16_t>(std::strtoul(std::string(value).c_str(), nullptr, 10));
        if (optionValue(argv[i], "smtp-port", value))
            smtpPort = static_cast<std::uint16_t>(std::strtoul(std::string(value).c_str(), nullptr, 10));
    }
    int status = 0;
    {
        EmailService service(smtpPort, idleLimitMs, relayPort, retryMs);
        // A fresh folder has no settings yet: that load fails, and is fine.
        (void)service.loadSettings();
        for (int i = 2; i < argc; ++i) {
            const std::string_view arg(argv[i]);
            const bool done = arg.substr(0, 2) == "--" ? applyOption(service, arg) : addAccount(service, arg);
            if (!done) {
                std::fprintf(stderr, "bad argument: %s\n", argv[i]);
                return 2;
            }
        }
        service.setPopPort(0);
        if (!service.saveSettings()) {
            std::fprintf(stderr, "settings could not be saved\n");
            return 1;
        }
        const bool active = activateAndReport(service);
        std::fflush(stdout);
        if (!active)
            return 1;

        testing::serveCommands(signalDescriptor, [&service](const std::string& line) { runCommand(service, line); });
        service.deactivate();
        if (!service.saveSettings())
            status = 1;
    }
    return status;
}
