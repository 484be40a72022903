// TcpSocket: one non-blocking IPv4 TCP socket with its addresses, running
// byte totals and the reason of its last failure. Every operation returns
// at once; callers wait for readiness through WorkerThread::waitFor.
#pragma once

#include "foundation/tls_context.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct sockaddr_in;

namespace vantrel {

// Codes are part of the system; 9 is not used.
enum class SocketError : int {
    None = 0,
    CreateFailed = 1,
    HostNotFound = 2,
    ConnectFailed = 3,
    ListenFailed = 4,
    BindFailed = 5,
    NotListening = 6,
    NothingToAccept = 7,
    NotConnected = 8,
    ConnectionLost = 10, // the peer closed its end, or a send failed
    BufferTooSmall = 11,
    NoLineYet = 12,
    ConnectionReset = 13, // a receive failed (a reset): bytes may be lost
};

class TlsConnection;

// One step of a TLS handshake.
enum class TlsProgress {
    Done,
    WantRead,
    WantWrite,
    Failed // the socket is closed
};

enum class SocketState : int {
    Closed = 0,
    Connected = 1,
    Listening = 2
};

class TcpSocket {
public:
    static constexpr std::size_t AddressTextSize = 16; // "255.255.255.255" + zero

    TcpSocket();
    virtual ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Moves the connection of `other` (descriptor, addresses, state, last
    // error) into this socket, closing what this one held; `other` is left
    // closed without closing the moved descriptor. Byte totals stay with
    // each object.
    void takeFrom(TcpSocket& other);

    // Fails at once without an error code on an empty host. Waits for the
    // name lookup and the connect, unless stopEvent (a descriptor readable
    // once a stop is requested, or -1) is signalled first.
    [[nodiscard]] bool connectTo(const char* host, std::uint16_t port, int stopEvent = -1);
    // Port 0 lets the system pick; localPort() tells which. SO_REUSEADDR is set.
    [[nodiscard]] bool listenOn(std::uint16_t port);
    bool acceptInto(TcpSocket& target);
    bool acceptOwn();

    // length: bytes to send in, bytes sent out (0 when the socket cannot take
    // data now, with a true result).
    bool sendSome(const void* bytes, std::size_t& length);
    // The same for `length` bytes of an open file from `offset`, moved by
    // the system without passing through this process; `offset` advances.
    // fileEnded: the file had no more bytes (it shrank).
    bool sendFileSome(int file, std::uint64_t& offset, std::size_t& length, bool& fileEnded);
    // length: capacity in, bytes received out (0 with true: nothing waiting).
    // A false result leaves the socket closed; lastError() tells a clean end
    // of the stream (ConnectionLost) from a reset (ConnectionReset).
    virtual bool receiveSome(void* buffer, std::size_t& length);
    // The same, into the write end of an empty pipe, without copying the
    // bytes through this process; for a socket that has never been read
    // through a subclass's buffer (a data connection). The pipe is drained
    // before the next call: over TLS it may refer to the socket's memory.
    bool receiveIntoPipe(int pipeWriteEnd, std::size_t& length);
    virtual void close();
    void shutdownAndClose();
    // Closes at once with a reset: bytes still queued for the peer are
    // dropped rather than delivered (a transfer that was aborted).
    void resetAndClose();
    // Ends the sending side after what is queued (the peer reads the end
    // of the stream); receiving goes on.
    void shutdownSending();
    // Keeps TCP urgent data in the normal byte stream. Clients send a
    // command (FTP's ABOR, or the Telnet bytes ahead of it) as urgent data,
    // and a line reader must see every byte of it.
    void keepUrgentDataInline();
    // Lets the system hold back partial segments while a stream of small
    // sends follows (a download in 1024-byte blocks); closing sends the rest.
    void coalesceSends(bool on);
    // Sends each write at once instead of holding a small one back until
    // the previous one is acknowledged: a connection that sends two replies
    // in a row with no request between them (FTP's 150 and 226) would
    // otherwise wait for the peer's delayed acknowledgement.
    void sendPromptly();
    // Acknowledges what has arrived at once rather than after the delayed
    // acknowledgement's wait (used once, as a server handshake ends).
    void acknowledgeNow();
    // Listening socket: hands out a connection only once its first bytes
    // have arrived, or after about `seconds` (the system's next handshake
    // retry) for a client that sends nothing, which is then accepted as
    // usual. For protocols where the client speaks first.
    void acceptWithData(int seconds);

    // Speaks TLS, as the server, from now on: every later send and receive
    // is encrypted. Bytes already received in clear and not read are
    // dropped (a protocol's command to start TLS is the last clear byte it
    // acts on). Sessions made under `scope` may be resumed only under it.
    // False when TLS cannot be set up; the socket is then unchanged.
    [[nodiscard]] bool startTls(std::shared_ptr<const TlsContext> context, const TlsScope& scope);
    // The same as the client of `hostName` (TlsContext::forClients).
    [[nodiscard]] bool startClientTls(std::shared_ptr<const TlsContext> context, const char* hostName);
    // Moves the handshake on as far as it goes now; the caller waits as told.
    TlsProgress continueTls();
    bool isTls() const { return tls_ != nullptr; }
    // The handshake resumed an earlier session of the same scope.
    bool tlsResumed() const;
    // Whether the system encrypts what this connection sends.
    bool tlsKernelSends() const;
    // Client side: the peer's certificate verified for the host named.
    bool tlsPeerVerified() const;
    // The protocol and cipher of an established TLS connection, for logs
    // ("TLSv1.3", "TLS_AES_256_GCM_SHA384"); empty without TLS.
    const char* tlsVersion() const;
    const char* tlsCipher() const;
    // Decrypted bytes wait to be received although the descriptor may not
    // be readable: a wait for input must not block.
    bool hasPendingInput() const;

    bool isConnected() const { return state_ == SocketState::Connected; }
    SocketState state() const { return state_; }
    SocketError lastError() const { return lastError_; }
    const char* peerAddress() const { return peerAddress_; }
    std::uint16_t peerPort() const { return peerPort_; }
    const char* localAddress() const
    {
        resolveLocal();
        return localAddress_;
    }
    std::uint16_t localPort() const
    {
        resolveLocal();
        return localPort_;
    }
    std::uint32_t peerIp() const { return peerIp_; } // network order
    std::uint32_t localIp() const
    {
        resolveLocal();
        return localIp_;
    } // network order
    std::uint64_t bytesReceived() const { return bytesReceived_; }
    std::uint64_t bytesSent() const { return bytesSent_; }
    // The descriptor, for readiness waits; -1 when closed.
    int descriptor() const { return handle_; }

protected:
    void setLastError(SocketError error) { lastError_ = error; }
    // The receive of the socket itself, bypassing any buffering of a subclass.
    bool receiveFromNetwork(void* buffer, std::size_t& length);
    // Drops what a subclass buffered of the input (TLS starts).
    virtual void dropBufferedInput() {}

private:
    // Into `buffer`, or with none into the pipe `pipeWriteEnd`.
    bool receiveInto(void* buffer, int pipeWriteEnd, std::size_t& length);
    bool open();
    // Closes (the subclass's close included) and records why; always false.
    bool failClosed(SocketError error);
    // The receive through TLS: into `buffer`, or into the pipe.
    bool receiveTls(void* buffer, int pipeWriteEnd, std::size_t& length);
    // A TLS call's outcome as the socket's: true for bytes moved or none now.
    bool tlsResult(int outcome, std::size_t& length, bool sending);
    // The peer's address, when accept already gave it, spares asking again.
    void adopt(int descriptor, const sockaddr_in* peer = nullptr);
    void fillAddresses(const sockaddr_in* knownPeer = nullptr);
    void resetAddresses();
    // An accepted connection asks the system for its local end only once
    // someone wants to know it (most never do).
    void resolveLocal() const
    {
        if (localPending_) {
            fillLocal();
        }
    }
    void fillLocal() const;

    int handle_ = -1;
    char peerAddress_[AddressTextSize] = "0.0.0.0";
    std::uint16_t peerPort_ = 0;
    mutable char localAddress_[AddressTextSize] = "0.0.0.0";
    mutable std::uint16_t localPort_ = 0;
    mutable bool localPending_ = false;
    SocketError lastError_ = SocketError::None;
    SocketState state_ = SocketState::Closed;
    std::uint64_t bytesReceived_ = 0;
    std::uint64_t bytesSent_ = 0;
    mutable std::uint32_t localIp_ = 0;
    std::uint32_t peerIp_ = 0;
    // Partial segments are held back (coalesceSends); most sockets never are.
    bool corked_ = false;
    // Set while the connection speaks TLS.
    std::unique_ptr<TlsConnection> tls_;
};

} // namespace vantrel
