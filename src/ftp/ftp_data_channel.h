// The data connection of one FTP session: the socket that is closed,
// listening after PASV or connected, and the client's address from PORT.
// Connections are taken only from the control connection's own peer, so a
// stranger can neither steal a passive transfer nor aim an active one
// (PORT) at a third machine.
#pragma once

#include "foundation/line_socket.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

enum class PortParse {
    Ok,
    TooFew,
    OutOfRange,
    BelowPrivileged
};

struct PortTarget {
    std::string address; // "%d.%d.%d.%d"
    std::uint16_t port = 0;
};

// Reads the six numbers of a PORT argument ("h1,h2,h3,h4,p1,p2").
[[nodiscard]] PortParse parsePortArgument(std::string_view argument, PortTarget& target);

// The PASV reply for a local address text and a port: "227 Entering
// Passive Mode (h1,h2,h3,h4,p1,p2)".
std::string passiveReply(std::string_view localAddress, std::uint16_t port);

class FtpDataChannel final {
public:
    LineSocket& socket() { return socket_; }
    const LineSocket& socket() const { return socket_; }

    // A PORT address is set, or the socket listens or is connected.
    bool ready() const;
    bool isListening() const { return socket_.state() == SocketState::Listening; }
    bool isConnected() const { return socket_.isConnected(); }

    // PORT: remembers the client's address and drops any listener or connection.
    void setPortTarget(PortTarget target);
    // PASV: listens on a port of the system's choice and forgets the PORT address.
    [[nodiscard]] bool listenPassive();
    // Takes a pending connection from `peerIp` (network order); one from any
    // other address is closed at once and the socket goes on listening.
    bool acceptFrom(std::uint32_t peerIp);
    // Active mode: connects to the PORT address; gives up once stopEvent is
    // signalled.
    [[nodiscard]] bool connectToPortTarget(int stopEvent);
    // The end of every transfer and listing.
    void finish() { socket_.shutdownAndClose(); }
    // The end of a transfer that failed or was aborted: what is still
    // queued for the client is dropped, not delivered after the 426.
    void abort() { socket_.resetAndClose(); }
    void close() { socket_.close(); }

private:
    LineSocket socket_;
    PortTarget portTarget_;
};

} // namespace vantrel
