// TcpSocket over POSIX sockets: IPv4, non-blocking descriptors, sends that
// never raise SIGPIPE. A zero-time-out readiness test followed by one send
// or receive is done as a single non-blocking call, where "would block"
// means "nothing now".
#include "foundation/tcp_socket.h"

#include "foundation/host_lookup.h"
#include "foundation/tls_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel {

namespace {

// Room for a burst of simultaneous connects (a browser opens six at once);
// with a queue of 5 the rest would wait a second for the SYN retry.
constexpr int ListenBacklog = SOMAXCONN;
constexpr int ConnectTimeoutMs = 30000;
constexpr char UnknownAddress[] = "0.0.0.0";

// sendfile cannot be told MSG_NOSIGNAL: on a connection the peer has reset
// it raises SIGPIPE, which would end the process. A thread that sends files
// keeps the signal blocked from its first such send on (one call per thread);
// the lost connection is seen as EPIPE all the same.
void blockPipeSignalInThisThread()
{
    thread_local bool blocked = false;
    if (!blocked) {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        blocked = ::pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr) == 0;
    }
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Finishes a non-blocking connect: waits for the outcome as a blocking
// connect would, but gives up on a host that never answers after
// ConnectTimeoutMs rather than the kernel's two minutes, and at once when
// the stop event (if any) is signalled.
bool completeConnect(int descriptor, int stopEvent)
{
    pollfd fds[] = {{descriptor, POLLOUT, 0}, {stopEvent, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(fds, stopEvent >= 0 ? 2 : 1, ConnectTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) == 0) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return false;
    }
    return error == 0;
}

// Accepts one pending connection as a non-blocking descriptor, or -1;
// the peer's address comes with it, saving a getpeername.
int acceptPending(int listener, sockaddr_in& peer)
{
    int accepted;
    do {
        socklen_t length = sizeof peer;
        accepted = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    return accepted;
}

} // namespace

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket()
{
    TcpSocket::close();
}

void TcpSocket::takeFrom(TcpSocket& other)
{
    if (&other == this) {
        return;
    }
    close();
    handle_ = other.handle_;
    std::memcpy(peerAddress_, other.peerAddress_, sizeof peerAddress_);
    peerPort_ = other.peerPort_;
    std::memcpy(localAddress_, other.localAddress_, sizeof localAddress_);
    localPort_ = other.localPort_;
    localPending_ = other.localPending_;
    lastError_ = other.lastError_;
    state_ = other.state_;
    localIp_ = other.localIp_;
    peerIp_ = other.peerIp_;
    corked_ = other.corked_;
    tls_ = std::move(other.tls_);
    // The descriptor now belongs here; `other` forgets it without closing.
    other.handle_ = -1;
    other.state_ = SocketState::Closed;
    other.corked_ = false;
    other.close();
}

bool TcpSocket::open()
{
    close();
    handle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (handle_ < 0) {
        handle_ = -1;
        lastError_ = SocketError::CreateFailed;
        return false;
    }
    return true;
}

bool TcpSocket::connectTo(const char* host, std::uint16_t port, int stopEvent)
{
    if (host == nullptr || host[0] == '\0') {
        return false;
    }
    in_addr address{};
    if (lookUpHost(host, address, stopEvent) != LookupResult::Found) {
        return failClosed(SocketError::HostNotFound);
    }
    if (!open()) {
        return false;
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr = address;
    int result;
    do {
        result = ::connect(handle_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } while (result != 0 && errno == EINTR);
    const bool connected = result == 0 || (errno == EINPROGRESS && completeConnect(handle_, stopEvent));
    if (!connected) {
        return failClosed(SocketError::ConnectFailed);
    }
    state_ = SocketState::Connected;
    fillAddresses();
    return true;
}

bool TcpSocket::listenOn(std::uint16_t port)
{
    if (!open()) {
        return false;
    }
    // Lets a service listen again at once while its old connections sit in
    // TIME_WAIT; a second live listener on the port still fails to bind.
    const int reuse = 1;
    ::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(handle_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return failClosed(SocketError::BindFailed);
    }
    if (::listen(handle_, ListenBacklog) != 0) {
        return failClosed(SocketError::ListenFailed);
    }
    state_ = SocketState::Listening;
    fillAddresses();
    return true;
}

bool TcpSocket::acceptInto(TcpSocket& target)
{
    if (state_ != SocketState::Listening) {
        lastError_ = SocketError::NotListening;
        return false;
    }
    if (&target == this) {
        return acceptOwn();
    }
    sockaddr_in peer{};
    const int accepted = acceptPending(handle_, peer);
    if (accepted < 0) {
        lastError_ = SocketError::NothingToAccept;
        return false;
    }
    target.adopt(accepted, &peer);
    return true;
}

bool TcpSocket::acceptOwn()
{
    if (state_ != SocketState::Listening) {
        lastError_ = SocketError::NotListening;
        return false;
    }
    sockaddr_in peer{};
    const int accepted = acceptPending(handle_, peer);
    if (accepted < 0) {
        lastError_ = SocketError::NothingToAccept;
        return false;
    }
    adopt(accepted, &peer); // closes the listening descriptor first
    return true;
}

void TcpSocket::adopt(int descriptor, const sockaddr_in* peer)
{
    close();
    handle_ = descriptor;
    lastError_ = SocketError::None;
    state_ = SocketState::Connected;
    fillAddresses(peer);
}

bool TcpSocket::sendSome(const void* bytes, std::size_t& length)
{
    if (state_ != SocketState::Connected) {
        lastError_ = SocketError::NotConnected;
        length = 0;
        return false;
    }
    if (length == 0) {
        return true;
    }
    if (tls_) {
        blockPipeSignalInThisThread(); // the library writes without MSG_NOSIGNAL
        return tlsResult(static_cast<int>(tls_->write(bytes, length)), length, true);
    }
    const ssize_t sent = ::send(handle_, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        length = 0;
        if (wouldBlock(errno)) {
            return true;
        }
        return failClosed(SocketError::ConnectionLost);
    }
    bytesSent_ += static_cast<std::uint64_t>(sent);
    length = static_cast<std::size_t>(sent);
    return true;
}

bool TcpSocket::sendFileSome(int file, std::uint64_t& offset, std::size_t& length, bool& fileEnded)
{
    fileEnded = false;
    if (state_ != SocketState::Connected) {
        lastError_ = SocketError::NotConnected;
        length = 0;
        return false;
    }
    if (length == 0) {
        return true;
    }
    blockPipeSignalInThisThread();
    if (tls_) {
        if (!tlsResult(static_cast<int>(tls_->sendFile(file, offset, length, fileEnded)), length, true)) {
            return false;
        }
        offset += length;
        return true;
    }
    // Every descriptor here is non-blocking, so sendfile takes what the
    // socket has room for and returns.
    auto position = static_cast<off_t>(offset);
    ssize_t sent;
    do {
        sent = ::sendfile(handle_, file, &position, length);
    } while (sent < 0 && errno == EINTR);
    const int error = errno;
    if (sent < 0) {
        length = 0;
        if (wouldBlock(error)) {
            return true;
        }
        return failClosed(SocketError::ConnectionLost);
    }
    fileEnded = sent == 0;
    bytesSent_ += static_cast<std::uint64_t>(sent);
    offset += static_cast<std::uint64_t>(sent);
    length = static_cast<std::size_t>(sent);
    return true;
}

bool TcpSocket::receiveSome(void* buffer, std::size_t& length)
{
    return receiveFromNetwork(buffer, length);
}

bool TcpSocket::receiveIntoPipe(int pipeWriteEnd, std::size_t& length)
{
    return receiveInto(nullptr, pipeWriteEnd, length);
}

bool TcpSocket::receiveFromNetwork(void* buffer, std::size_t& length)
{
    return receiveInto(buffer, -1, length);
}

bool TcpSocket::receiveInto(void* buffer, int pipeWriteEnd, std::size_t& length)
{
    if (state_ != SocketState::Connected) {
        lastError_ = SocketError::NotConnected;
        length = 0;
        return false;
    }
    if (length == 0) {
        return true;
    }
    if (tls_) {
        blockPipeSignalInThisThread(); // a read may answer with an alert
        return receiveTls(buffer, pipeWriteEnd, length);
    }
    ssize_t received;
    do {
        received = buffer != nullptr
                       ? ::recv(handle_, buffer, length, MSG_DONTWAIT)
                       : ::splice(handle_, nullptr, pipeWriteEnd, nullptr, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    } while (received < 0 && errno == EINTR);
    if (received < 0 && wouldBlock(errno)) {
        length = 0;
        return true;
    }
    if (received <= 0) {
        // Only a clean close ends the stream; after a reset (or another
        // failure) bytes that were on their way may be lost.
        length = 0;
        return failClosed(received == 0 ? SocketError::ConnectionLost : SocketError::ConnectionReset);
    }
    bytesReceived_ += static_cast<std::uint64_t>(received);
    length = static_cast<std::size_t>(received);
    return true;
}

bool TcpSocket::receiveTls(void* buffer, int pipeWriteEnd, std::size_t& length)
{
    if (buffer != nullptr) {
        return tlsResult(static_cast<int>(tls_->read(buffer, length)), length, false);
    }
    std::size_t got = length;
    int error = 0;
    const TlsOutcome outcome = tls_->readIntoPipe(pipeWriteEnd, got, error);
    if (outcome == TlsOutcome::Failed && error != 0) {
        length = 0;
        return failClosed(SocketError::ConnectionReset);
    }
    length = got;
    return tlsResult(static_cast<int>(outcome), length, false);
}

bool TcpSocket::tlsResult(int outcome, std::size_t& length, bool sending)
{
    switch (static_cast<TlsOutcome>(outcome)) {
    case TlsOutcome::Done:
        if (sending) {
            bytesSent_ += length;
        } else {
            bytesReceived_ += length;
        }
        return true;
    case TlsOutcome::WantRead:
    case TlsOutcome::WantWrite:
        length = 0;
        return true;
    case TlsOutcome::Closed:
        length = 0;
        return failClosed(SocketError::ConnectionLost);
    case TlsOutcome::Failed:
        break;
    }
    length = 0;
    return failClosed(sending ? SocketError::ConnectionLost : SocketError::ConnectionReset);
}

bool TcpSocket::startTls(std::shared_ptr<const TlsContext> context, const TlsScope& scope)
{
    if (state_ != SocketState::Connected || tls_) {
        return false;
    }
    auto tls = TlsConnection::serverOn(handle_, std::move(context), scope);
    if (!tls) {
        return false;
    }
    dropBufferedInput();
    tls_ = std::move(tls);
    return true;
}

bool TcpSocket::startClientTls(std::shared_ptr<const TlsContext> context, const char* hostName)
{
    if (state_ != SocketState::Connected || tls_) {
        return false;
    }
    auto tls = TlsConnection::clientOn(handle_, std::move(context), hostName);
    if (!tls) {
        return false;
    }
    dropBufferedInput();
    tls_ = std::move(tls);
    return true;
}

bool TcpSocket::tlsPeerVerified() const
{
    return tls_ && tls_->peerVerified();
}

const char* TcpSocket::tlsVersion() const
{
    return tls_ && tls_->established() ? tls_->versionName() : "";
}

const char* TcpSocket::tlsCipher() const
{
    return tls_ && tls_->established() ? tls_->cipherName() : "";
}

TlsProgress TcpSocket::continueTls()
{
    if (!tls_ || state_ != SocketState::Connected) {
        return TlsProgress::Failed;
    }
    blockPipeSignalInThisThread();
    switch (tls_->handshake()) {
    case TlsOutcome::Done:
        return TlsProgress::Done;
    case TlsOutcome::WantRead:
        return TlsProgress::WantRead;
    case TlsOutcome::WantWrite:
        return TlsProgress::WantWrite;
    case TlsOutcome::Closed:
    case TlsOutcome::Failed:
        break;
    }
    failClosed(SocketError::ConnectionLost);
    return TlsProgress::Failed;
}

bool TcpSocket::tlsResumed() const
{
    return tls_ && tls_->resumed();
}

bool TcpSocket::tlsKernelSends() const
{
    return tls_ && tls_->established() && tls_->kernelSends();
}

bool TcpSocket::hasPendingInput() const
{
    return tls_ && tls_->hasPendingInput();
}

bool TcpSocket::failClosed(SocketError error)
{
    close();
    lastError_ = error;
    return false;
}

void TcpSocket::close()
{
    if (tls_) {
        if (state_ == SocketState::Connected) {
            blockPipeSignalInThisThread();
            tls_->sendCloseNotify();
        }
        tls_.reset();
    }
    if (handle_ >= 0) {
        ::close(handle_);
        handle_ = -1;
        state_ = SocketState::Closed;
        corked_ = false;
    }
    resetAddresses();
}

void TcpSocket::shutdownAndClose()
{
    if (state_ == SocketState::Connected) {
        if (tls_) {
            blockPipeSignalInThisThread();
            tls_->sendCloseNotify();
        }
        ::shutdown(handle_, SHUT_RDWR);
    }
    close();
}

void TcpSocket::resetAndClose()
{
    tls_.reset(); // no closing alert: the peer learns of the abort by the reset
    if (state_ == SocketState::Connected) {
        const linger dropQueued{1, 0};
        ::setsockopt(handle_, SOL_SOCKET, SO_LINGER, &dropQueued, sizeof dropQueued);
    }
    close();
}

void TcpSocket::shutdownSending()
{
    if (state_ == SocketState::Connected) {
        if (tls_) {
            blockPipeSignalInThisThread();
            tls_->sendCloseNotify();
        }
        coalesceSends(false); // what is held back leaves now
        ::shutdown(handle_, SHUT_WR);
    }
}

void TcpSocket::keepUrgentDataInline()
{
    if (handle_ >= 0) {
        const int on = 1;
        ::setsockopt(handle_, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
    }
}

void TcpSocket::sendPromptly()
{
    if (handle_ >= 0) {
        const int value = 1;
        ::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
    }
}

void TcpSocket::acknowledgeNow()
{
    if (handle_ >= 0) {
        const int value = 1;
        ::setsockopt(handle_, IPPROTO_TCP, TCP_QUICKACK, &value, sizeof value);
    }
}

void TcpSocket::acceptWithData(int seconds)
{
    if (handle_ >= 0) {
        ::setsockopt(handle_, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
    }
}

void TcpSocket::coalesceSends(bool on)
{
    if (handle_ >= 0 && on != corked_) {
        const int value = on ? 1 : 0;
        ::setsockopt(handle_, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
        corked_ = on;
    }
}

void TcpSocket::resetAddresses()
{
    std::memcpy(peerAddress_, UnknownAddress, sizeof UnknownAddress);
    std::memcpy(localAddress_, UnknownAddress, sizeof UnknownAddress);
    peerPort_ = 0;
    localPort_ = 0;
    peerIp_ = 0;
    localIp_ = 0;
    localPending_ = false;
}

void TcpSocket::fillAddresses(const sockaddr_in* knownPeer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (knownPeer != nullptr) {
        address = *knownPeer;
    } else if (::getpeername(handle_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        address.sin_family = AF_UNSPEC;
    }
    if (address.sin_family == AF_INET) {
        if (::inet_ntop(AF_INET, &address.sin_addr, peerAddress_, sizeof peerAddress_) == nullptr) {
            std::memcpy(peerAddress_, UnknownAddress, sizeof UnknownAddress);
        }
        peerPort_ = ntohs(address.sin_port);
        peerIp_ = address.sin_addr.s_addr;
    }
    if (knownPeer != nullptr) {
        localPending_ = true;
    } else {
        fillLocal();
    }
}

void TcpSocket::fillLocal() const
{
    localPending_ = false;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_family == AF_INET) {
        if (::inet_ntop(AF_INET, &address.sin_addr, localAddress_, sizeof localAddress_) == nullptr) {
            std::memcpy(localAddress_, UnknownAddress, sizeof UnknownAddress);
        }
        localPort_ = ntohs(address.sin_port);
        localIp_ = address.sin_addr.s_addr;
    }
}

} // namespace vantrel
