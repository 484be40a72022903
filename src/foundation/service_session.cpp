// ServiceSession: the thread of one connection. serve() holds the protocol's
// conversation; this file provides the shared mechanics around it: sending
// whole lines and buffers while staying responsive to a stop, the activity
// clock that the listener's idle check reads, and the locked byte snapshot.
#include "foundation/service_session.h"

#include "foundation/clock.h"
#include "foundation/service_listener.h"

#include <poll.h>

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

constexpr char LineEnd[] = "\r\n";
constexpr std::size_t LineEndLength = 2;
// Last words go out even after a stop, but a peer that takes nothing must
// not hold the thread (and the stop waiting for it) for long.
constexpr int ShortLineWaitMs = 5000;

} // namespace

ServiceSession::ServiceSession(std::unique_ptr<LineSocket> control)
    : WorkerThread(StackSize::Session), control_(std::move(control)), lastActivity_(tickCount())
{
}

ServiceSession::~ServiceSession()
{
    stopSession();
}

void ServiceSession::startSession()
{
    {
        LockGuard guard(lock_);
        finished_ = false;
    }
    if (!start()) {
        LockGuard guard(lock_);
        finished_ = true;
    }
}

void ServiceSession::stopSession()
{
    stop(StopTimeoutMs);
}

void ServiceSession::run()
{
    serve();
    SessionWaker* waker = nullptr;
    AddressSlot slot;
    {
        LockGuard guard(lock_);
        finished_ = true;
        served_ = true;
        slot = std::move(slot_);
        refreshCountersLocked();
        if (dataSocket_ != nullptr) {
            dataSocket_->shutdownAndClose();
        }
        control_->shutdownAndClose();
        waker = waker_;
    }
    // Free before the listener hears of the end, so that the client's next
    // connection finds its place.
    slot.release();
    // The listener outlives its sessions' threads, so its waker is alive.
    if (waker != nullptr) {
        waker->wake();
    }
}

bool ServiceSession::sendLine(TcpSocket& socket, std::string_view text)
{
    // A line with its CR LF stays below LongestLineSize.
    char line[LongestLineSize];
    const std::size_t length = std::min(text.size(), LongestLineSize - LineEndLength - 1);
    std::memcpy(line, text.data(), length);
    std::memcpy(line + length, LineEnd, LineEndLength);
    return sendBuffer(socket, line, length + LineEndLength);
}

bool ServiceSession::sendShortLine(TcpSocket& socket, std::string_view text)
{
    char line[ShortLineSize];
    const std::size_t length = std::min(text.size(), ShortLineSize - LineEndLength - 1);
    std::memcpy(line, text.data(), length);
    std::memcpy(line + length, LineEnd, LineEndLength);

    const std::size_t total = length + LineEndLength;
    std::size_t done = 0;
    const std::uint32_t begin = tickCount();
    while (done < total) {
        std::size_t count = total - done;
        if (!socket.sendSome(line + done, count)) {
            return false;
        }
        done += count;
        if (count > 0) {
            continue;
        }
        const std::uint32_t spent = tickCount() - begin;
        if (spent >= static_cast<std::uint32_t>(ShortLineWaitMs)) {
            return false;
        }
        // Not waitFor: the stop event is usually signalled here already.
        pollfd fd{socket.descriptor(), POLLOUT, 0};
        ::poll(&fd, 1, ShortLineWaitMs - static_cast<int>(spent));
    }
    noteActivity();
    return true;
}

bool ServiceSession::sendBuffer(TcpSocket& socket, const void* bytes, std::size_t length)
{
    const auto* data = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (!stopRequested()) {
        std::size_t count = length - done;
        if (!socket.sendSome(data + done, count)) {
            return false;
        }
        done += count;
        if (count > 0 || done == length) {
            noteActivity();
        }
        if (done == length) {
            return true;
        }
        if (count == 0) {
            waitFor({{&socket, WaitFor::Writable}}, -1);
        }
    }
    return false;
}

bool ServiceSession::handshakeTls(TcpSocket& socket, std::shared_ptr<const TlsContext> context, const TlsScope& scope)
{
    if (!socket.startTls(std::move(context), scope)) {
        socket.close();
        return false;
    }
    if (!completeHandshake(socket))
        return false;
    // The client speaks next (STARTTLS's EHLO, a request), right behind its
    // Finished; a client that holds a small send back until its last one is
    // acknowledged would otherwise wait out our delayed acknowledgement,
    // 40 ms, when nothing of ours follows the handshake to carry it.
    socket.acknowledgeNow();
    return true;
}

bool ServiceSession::handshakeTlsAsClient(TcpSocket& socket, const char* hostName)
{
    if (!socket.startClientTls(TlsContext::forClients(), hostName)) {
        socket.close();
        return false;
    }
    return completeHandshake(socket);
}

bool ServiceSession::completeHandshake(TcpSocket& socket)
{
    const std::uint32_t started = tickCount();
    for (;;) {
        const TlsProgress progress = socket.continueTls();
        if (progress == TlsProgress::Done) {
            noteActivity();
            return true;
        }
        const std::uint32_t spent = tickCount() - started;
        if (progress == TlsProgress::Failed || stopRequested() || spent >= TlsHandshakeLimitMs) {
            socket.close();
            return false;
        }
        const WaitFor what = progress == TlsProgress::WantWrite ? WaitFor::Writable : WaitFor::Readable;
        waitFor({{&socket, what}}, static_cast<int>(TlsHandshakeLimitMs - spent));
    }
}

bool ServiceSession::sendFileRange(TcpSocket& socket, int file, std::uint64_t offset, std::uint64_t length)
{
    // One call moves at most this much, so progress is noted regularly.
    constexpr std::uint64_t MaxPerCall = 1024 * 1024;
    std::uint64_t done = 0;
    while (!stopRequested()) {
        if (done == length) {
            return true;
        }
        std::size_t count = static_cast<std::size_t>(std::min(length - done, MaxPerCall));
        bool fileEnded = false;
        if (!socket.sendFileSome(file, offset, count, fileEnded)) {
            return false;
        }
        if (fileEnded) {
            return true;
        }
        done += count;
        if (count > 0) {
            noteActivity();
        } else {
            waitFor({{&socket, WaitFor::Writable}}, -1);
        }
    }
    return false;
}

void ServiceSession::noteActivity()
{
    LockGuard guard(lock_);
    lastActivity_ = tickCount();
    refreshCountersLocked();
}

void ServiceSession::refreshCounters()
{
    LockGuard guard(lock_);
    refreshCountersLocked();
}

void ServiceSession::refreshCountersLocked()
{
    bytesIn_ = control_->bytesReceived();
    bytesOut_ = control_->bytesSent();
    if (dataSocket_ != nullptr) {
        bytesIn_ += dataSocket_->bytesReceived();
        bytesOut_ += dataSocket_->bytesSent();
    }
}

void ServiceSession::setDataSocket(TcpSocket* socket)
{
    LockGuard guard(lock_);
    dataSocket_ = socket;
}

bool ServiceSession::isFinished() const
{
    LockGuard guard(lock_);
    return finished_;
}

std::uint64_t ServiceSession::bytesIn() const
{
    LockGuard guard(lock_);
    return bytesIn_;
}

std::uint64_t ServiceSession::bytesOut() const
{
    LockGuard guard(lock_);
    return bytesOut_;
}

void ServiceSession::checkIdle(std::uint32_t idleLimitMs)
{
    LockGuard guard(lock_);
    if (tickCount() - lastActivity_ > idleLimitMs) {
        finished_ = true;
    }
}

void ServiceSession::setWaker(SessionWaker* waker)
{
    LockGuard guard(lock_);
    waker_ = waker;
    // A session that ended before it was handed its waker still wakes the
    // listener once.
    if (waker_ != nullptr && finished_) {
        waker_->wake();
    }
}

void ServiceSession::holdAddressSlot(AddressSlot slot)
{
    LockGuard guard(lock_);
    // A conversation that ended already gives the slot back at once.
    if (!served_) {
        slot_ = std::move(slot);
    }
}

void ServiceSession::lingeringClose(LineSocket& socket)
{
    if (!socket.isConnected()) {
        return;
    }
    socket.shutdownSending();
    char chunk[LineSocket::ReceiveChunk];
    std::size_t dropped = 0;
    const std::uint32_t begin = tickCount();
    std::uint32_t lastByte = begin;
    while (!stopRequested() && dropped < LingerByteLimit) {
        std::size_t length = sizeof chunk;
        if (!socket.receiveSome(chunk, length)) {
            break; // the client closed its side too
        }
        const std::uint32_t now = tickCount();
        if (length > 0) {
            dropped += length;
            lastByte = now;
            continue;
        }
        const std::uint32_t spent = now - begin;
        const std::uint32_t idle = now - lastByte;
        if (spent >= LingerLimitMs || idle >= LingerIdleMs) {
            break;
        }
        waitFor({{&socket, WaitFor::Readable}}, static_cast<int>(std::min(LingerLimitMs - spent, LingerIdleMs - idle)));
    }
    socket.close();
}

void ServiceSession::awaitControlInput(int timeoutMs)
{
    if (control_->hasBufferedLine() || !control_->isConnected()) {
        return;
    }
    waitFor({{control_.get(), WaitFor::Readable}}, timeoutMs);
}

NextLine ServiceSession::nextLine(char* dest, std::size_t capacity, int timeoutMs)
{
    const std::uint32_t begin = tickCount();
    for (;;) {
        if (stopRequested())
            return NextLine::Stopped;
        if (!control_->isConnected())
            return NextLine::Closed;
        if (control_->readLine(dest, capacity))
            return NextLine::Line;
        if (control_->lastError() != SocketError::NoLineYet)
            return NextLine::Closed;
        refreshCounters();
        if (timeoutMs < 0) {
            awaitControlInput();
            continue;
        }
        const std::uint32_t spent = tickCount() - begin;
        if (spent >= static_cast<std::uint32_t>(timeoutMs))
            return NextLine::TimedOut;
        awaitControlInput(timeoutMs - static_cast<int>(spent));
    }
}

} // namespace vantrel
