// Helpers for the socket, thread and listener tests: a connected loopback
// pair, bounded waits for a condition, and a blocking-style client.
#pragma once

#include "foundation/line_socket.h"
#include "foundation/tcp_socket.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace vantrel::testing {

inline constexpr auto DefaultDeadline = std::chrono::seconds(10);

// Polls the condition every millisecond until it holds or the deadline passes.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = DefaultDeadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Waits until the socket is readable (or has hung up), at most timeoutMs.
inline bool waitReadable(const TcpSocket& socket, int timeoutMs = 10000)
{
    pollfd fd{socket.descriptor(), POLLIN, 0};
    return ::poll(&fd, 1, timeoutMs) > 0;
}

inline bool sendAll(TcpSocket& socket, std::string_view bytes)
{
    std::size_t done = 0;
    const auto end = std::chrono::steady_clock::now() + DefaultDeadline;
    while (done < bytes.size()) {
        std::size_t length = bytes.size() - done;
        if (!socket.sendSome(bytes.data() + done, length)) {
            return false;
        }
        done += length;
        if (length == 0) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            pollfd fd{socket.descriptor(), POLLOUT, 0};
            ::poll(&fd, 1, 100);
        }
    }
    return true;
}

// readLine until a line arrives or the connection fails; false on failure.
inline bool readLineWithin(LineSocket& socket, char* dest, std::size_t capacity)
{
    const auto end = std::chrono::steady_clock::now() + DefaultDeadline;
    while (std::chrono::steady_clock::now() < end) {
        if (socket.readLine(dest, capacity)) {
            return true;
        }
        if (socket.lastError() != SocketError::NoLineYet) {
            return false;
        }
        waitReadable(socket, 100);
    }
    return false;
}

inline std::string readLineText(LineSocket& socket)
{
    char line[4096];
    return readLineWithin(socket, line, sizeof line) ? std::string(line) : std::string("<no line>");
}

// Receives until `count` bytes arrived, the peer closed, or the deadline.
inline std::string receiveBytes(TcpSocket& socket, std::size_t count)
{
    std::string received;
    const auto end = std::chrono::steady_clock::now() + DefaultDeadline;
    while (received.size() < count && std::chrono::steady_clock::now() < end) {
        char chunk[4096];
        std::size_t length = std::min(sizeof chunk, count - received.size());
        if (!socket.receiveSome(chunk, length)) {
            break;
        }
        received.append(chunk, length);
        if (length == 0) {
            waitReadable(socket, 100);
        }
    }
    return received;
}

// True when the peer closed the connection (receive fails) within the deadline.
inline bool waitForPeerClose(TcpSocket& socket)
{
    return waitUntil([&] {
        char byte;
        std::size_t length = 1;
        return !socket.receiveSome(&byte, length);
    });
}

// A listening socket with one client connected to it and accepted.
struct LoopbackPair {
    TcpSocket listener;
    TcpSocket client;
    LineSocket server;

    bool connect()
    {
        if (!listener.listenOn(0) || !client.connectTo("127.0.0.1", listener.localPort())) {
            return false;
        }
        return waitUntil([&] { return listener.acceptInto(server); });
    }
};

} // namespace vantrel::testing
