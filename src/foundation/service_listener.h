// ServiceListener: the accept thread of one port. It accepts connections
// while fewer sessions than its maximum are live, turns each into a
// protocol session through createSession, reaps finished and idle sessions,
// and keeps the byte totals shown in the main window. It also counts the
// live sessions of every client address: a connection from an address that
// holds its cap already gets the protocol's refusal and is closed at once,
// costing no session and no thread.
//
// A derived listener overrides createSession, which the accept thread calls;
// its destructor must therefore call deactivate() itself, before its own
// members (and its vtable) go away. ~ServiceListener deactivates again,
// which is then a no-op. Lock order: listener before session. Sessions are
// destroyed (waiting for their threads) under the listener's lock, so a
// session's thread must never take its listener's lock.
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/per_address_count.h"
#include "foundation/service_session.h"
#include "foundation/tcp_socket.h"
#include "foundation/worker_thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

// An eventfd that a finishing session pokes to wake its listener.
class SessionWaker final {
public:
    SessionWaker();
    ~SessionWaker();
    SessionWaker(const SessionWaker&) = delete;
    SessionWaker& operator=(const SessionWaker&) = delete;
    // A session has finished. Signals the descriptor only while the
    // listener is armed for it (it waits for room under its cap), so a busy
    // listener costs no call.
    void wake();
    // Listener side: whether a session finished since the last call.
    bool takeWake() { return pending_.exchange(false); }
    // Listener side, around its poll: after arm(), wake() signals the
    // descriptor; arm() returns false (and stays unarmed) when a wake is
    // already pending, so the listener goes round instead of sleeping.
    bool arm();
    // Ends the sleep, clearing the descriptor if it was signalled.
    void disarm(bool signalled);
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    std::atomic<bool> pending_{false};
    std::atomic<bool> sleeping_{false};
};

class ServiceListener : public WorkerThread {
public:
    ServiceListener(int maximumSessions, std::uint32_t idleLimitMs = ServiceSession::IdleLimitMs);
    ~ServiceListener() override;

    [[nodiscard]] bool activate(std::uint16_t port);
    void deactivate();
    bool isActive() const { return isRunning(); }
    int connectionCount() const;
    std::uint64_t totalBytesIn() const;
    std::uint64_t totalBytesOut() const;
    // The bound port while active (the one the system picked for port 0).
    std::uint16_t listeningPort() const;
    void setMaximumSessions(int maximum);
    // Live sessions one client address may hold; 0: no cap. Takes effect
    // for the next connection.
    void setPerAddressCap(int cap) { perAddress_.setCap(cap); }
    int perAddressCap() const { return perAddress_.cap(); }
    // Live sessions of a client address (IPv4, network order).
    int sessionsFrom(std::uint32_t address) const { return perAddress_.countOf(address); }

protected:
    // For a protocol whose client speaks first: the accept waits for the
    // client's first bytes (a silent client is still accepted, after a
    // second or so, and meets the idle limit as usual), so the session's
    // thread finds its request waiting. Takes effect at activate().
    void acceptWhenClientSpeaks() { clientSpeaksFirst_ = true; }
    // The bytes that a connection over its address's cap gets before it is
    // closed: the protocol's own refusal, whole lines with their CR LF.
    void refuseOverCapWith(std::string bytes) { refusal_ = std::move(bytes); }

    // Returns a new, already started session that owns the socket, or null
    // to refuse the connection.
    virtual std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket);

private:
    void run() final;
    // Removes finished sessions; with checkIdle, first marks the idle ones.
    void reap(bool checkIdle) VT_REQUIRES(lock_);
    // Turns an accepted connection into a session; hands the socket back
    // when its address is at its cap.
    std::unique_ptr<LineSocket> admit(std::unique_ptr<LineSocket> socket) VT_REQUIRES(lock_);
    void refuse(LineSocket& socket) const;

    // Declared before the sessions, whose slots point into it.
    PerAddressCount perAddress_;
    std::string refusal_;
    mutable CriticalLock lock_;
    TcpSocket listening_;
    std::vector<std::unique_ptr<ServiceSession>> sessions_ VT_GUARDED_BY(lock_);
    std::uint64_t finishedBytesIn_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t finishedBytesOut_ VT_GUARDED_BY(lock_) = 0;
    int maximumSessions_ VT_GUARDED_BY(lock_);
    std::uint32_t idleLimitMs_;
    bool clientSpeaksFirst_ = false;
    SessionWaker waker_;
};

} // namespace vantrel
