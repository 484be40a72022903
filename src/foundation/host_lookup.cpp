// The lookup itself, and its thread: the state both sides share lives as
// long as either needs it, so a caller that gave up leaves nothing dangling.
#include "foundation/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace vantrel {

namespace {

bool resolveNow(const char* host, in_addr& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    bool resolved = false;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
            resolved = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return resolved;
}

// Written by the lookup's thread before it signals `done`; read by the
// caller only after it saw the signal.
struct PendingLookup {
    std::string host;
    in_addr address{};
    bool found = false;
    int done = -1;
    ~PendingLookup()
    {
        if (done >= 0)
            ::close(done);
    }
};

} // namespace

LookupResult lookUpHost(const char* host, in_addr& address, int stopEvent)
{
    if (::inet_pton(AF_INET, host, &address) == 1)
        return LookupResult::Found;
    if (stopEvent < 0)
        return resolveNow(host, address) ? LookupResult::Found : LookupResult::NotFound;

    auto pending = std::make_shared<PendingLookup>();
    pending->host = host;
    pending->done = ::eventfd(0, EFD_CLOEXEC);
    bool started = pending->done >= 0;
    if (started) {
        try {
            std::thread([pending] {
                pending->found = resolveNow(pending->host.c_str(), pending->address);
                const std::uint64_t one = 1;
                [[maybe_unused]] const ssize_t written = ::write(pending->done, &one, sizeof one);
            }).detach();
        } catch (...) {
            started = false; // no thread to spare: wait for the answer here
        }
    }
    if (!started)
        return resolveNow(host, address) ? LookupResult::Found : LookupResult::NotFound;

    for (;;) {
        pollfd items[] = {{pending->done, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        const int ready = ::poll(items, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && (items[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(pending->done, &count, sizeof count);
            address = pending->address;
            return pending->found ? LookupResult::Found : LookupResult::NotFound;
        }
        return LookupResult::Stopped;
    }
}

} // namespace vantrel
