// ServiceListener: the accept thread of one port. It accepts connections
// while fewer sessions than its maximum are live, turns each into a
// protocol session through createSession, reaps finished and idle sessions,
// and keeps the byte totals shown in the main window.
//
// A derived listener overrides createSession, which the accept thread calls;
// its destructor must therefore call deactivate() itself, before its own
// members (and its vtable) go away. ~ServiceListener deactivates again,
// which is then a no-op. Lock order: listener before session. Sessions are
// destroyed (waiting for their threads) under the listener's lock, so a
// session's thread must never take its listener's lock.
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/service_session.h"
#include "foundation/tcp_socket.h"
#include "foundation/worker_thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
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

protected:
    // For a protocol whose client speaks first: the accept waits for the
    // client's first bytes (a silent client is still accepted, after a
    // second or so, and meets the idle limit as usual), so the session's
    // thread finds its request waiting. Takes effect at activate().
    void acceptWhenClientSpeaks() { clientSpeaksFirst_ = true; }

    // Returns a new, already started session that owns the socket, or null
    // to refuse the connection.
    virtual std::unique_ptr<ServiceSession> createSession(std::unique_ptr<LineSocket> socket);

private:
    void run() final;
    // Removes finished sessions; with checkIdle, first marks the idle ones.
    void reap(bool checkIdle) VT_REQUIRES(lock_);

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
