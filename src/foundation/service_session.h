// ServiceSession: the base of every protocol session. One thread per
// connection runs the protocol's serve() over the accepted control socket;
// the session keeps an activity clock for the idle limit and a locked
// snapshot of the bytes moved on its control and data sockets.
//
// A protocol session's constructor calls startSession() as its last step;
// its destructor calls stopSession() first, before releasing anything that
// serve() uses (~ServiceSession stops again, which is then a no-op).
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/line_socket.h"
#include "foundation/per_address_count.h"
#include "foundation/worker_thread.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vantrel {

class SessionWaker;

// What a command loop's wait for the next line ended with. TimedOut only
// ends a wait that was given a time limit.
enum class NextLine {
    Line,
    Closed,
    Stopped,
    TimedOut
};

class ServiceSession : public WorkerThread {
public:
    static constexpr std::uint32_t IdleLimitMs = 300000;
    static constexpr std::size_t ShortLineSize = 256;
    static constexpr std::size_t LongestLineSize = 2048;
    // Bounds of lingeringClose: all of it, without a byte, and the bytes dropped.
    static constexpr std::uint32_t LingerLimitMs = 30000;
    static constexpr std::uint32_t LingerIdleMs = 2000;
    static constexpr std::size_t LingerByteLimit = 1024 * 1024;
    // A TLS handshake that takes longer is given up: a client that opens
    // connections and never finishes them holds a session this long at most.
    static constexpr std::uint32_t TlsHandshakeLimitMs = 10000;

    explicit ServiceSession(std::unique_ptr<LineSocket> control);
    // Derived destructors call stopSession() first.
    ~ServiceSession() override;

    // Marks the session serving and starts its thread; the protocol session's
    // constructor calls it as its last step.
    void startSession();
    void stopSession();

    // Text plus CR LF; a longer text is cut to 2045 characters, so that a
    // line with its CR LF stays below LongestLineSize.
    bool sendLine(TcpSocket& socket, std::string_view text);
    // At most 255 bytes, sent even after a stop request (last words).
    bool sendShortLine(TcpSocket& socket, std::string_view text);
    // Sends every byte, waiting for buffer space; gives up on a stop request.
    bool sendBuffer(TcpSocket& socket, const void* bytes, std::size_t length);
    // Sends `length` bytes of an open file from `offset` in the same way,
    // without reading them into memory; a file that ends early ends it.
    bool sendFileRange(TcpSocket& socket, int file, std::uint64_t offset, std::uint64_t length);

    // Starts TLS as the server on `socket` and completes the handshake,
    // waiting at most TlsHandshakeLimitMs; false (the socket closed) when
    // the client did not complete it, sent garbage, or a stop came first.
    bool handshakeTls(TcpSocket& socket, std::shared_ptr<const TlsContext> context, const TlsScope& scope);
    // The same as the client of `hostName`, on a connection this session
    // made (a relay); whether the peer verified is the socket's to tell.
    bool handshakeTlsAsClient(TcpSocket& socket, const char* hostName);

    void noteActivity();
    void refreshCounters();
    void setDataSocket(TcpSocket* socket);
    bool isFinished() const;
    std::uint64_t bytesIn() const;
    std::uint64_t bytesOut() const;
    void checkIdle(std::uint32_t idleLimitMs = IdleLimitMs);

    // The listener's wake-up, poked when this session finishes so that it is
    // reaped at once. Set by the listener after createSession.
    void setWaker(SessionWaker* waker);
    // The session's place in its client address's count, given back as the
    // conversation ends. Set by the listener after createSession.
    void holdAddressSlot(AddressSlot slot);

    LineSocket& control() { return *control_; }

protected:
    virtual void serve() {}

    // Waits until the control socket has input (or already holds a complete
    // line), a stop is requested, or timeoutMs passes (negative: no limit).
    // A command loop that found no line sleeps here rather than polling.
    void awaitControlInput(int timeoutMs = -1);

    // A command loop's wait for its next line (FTP's command phase, which
    // moves a transfer between its control lines, polls readLine itself):
    // copies the next CR LF line (cut to capacity - 1, zero-terminated; it may be empty) and
    // answers Line, or Closed when the peer went away or the read failed,
    // or Stopped on a stop request, or TimedOut once timeoutMs has passed
    // without a line (negative: no limit). Counters are refreshed while it
    // waits.
    NextLine nextLine(char* dest, std::size_t capacity, int timeoutMs = -1);

    // Closes a connection after the last byte of an answer: ends the
    // sending side, then reads and drops what the client still sends until
    // it closes too, or for at most LingerLimitMs, LingerIdleMs without a
    // byte, or LingerByteLimit bytes. A socket closed with unread input
    // makes the system send a reset, which throws away the part of the
    // answer that the client has not read yet.
    void lingeringClose(LineSocket& socket);

private:
    void run() final;
    // Drives a started handshake to its end within TlsHandshakeLimitMs.
    bool completeHandshake(TcpSocket& socket);
    void refreshCountersLocked() VT_REQUIRES(lock_);

    std::unique_ptr<LineSocket> control_;
    mutable CriticalLock lock_;
    bool finished_ VT_GUARDED_BY(lock_) = true;
    std::uint32_t lastActivity_ VT_GUARDED_BY(lock_);
    std::uint64_t bytesIn_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t bytesOut_ VT_GUARDED_BY(lock_) = 0;
    TcpSocket* dataSocket_ VT_GUARDED_BY(lock_) = nullptr;
    SessionWaker* waker_ VT_GUARDED_BY(lock_) = nullptr;
    bool served_ VT_GUARDED_BY(lock_) = false;
    AddressSlot slot_ VT_GUARDED_BY(lock_);
};

} // namespace vantrel
