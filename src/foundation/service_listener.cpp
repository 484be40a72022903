// ServiceListener: the accept loop of one port. The thread sleeps in one
// poll on its stop event and either the listening socket (while a session
// may still be added) or the sessions' shared waker (while it waits for
// room); it reaps finished sessions at every wake and at least once a
// second while sessions live, for the idle limit.
#include "foundation/service_listener.h"

#include "foundation/clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vantrel {

namespace {

// The idle limit is checked this often while any session lives.
constexpr int IdleCheckIntervalMs = 1000;
// Pause before retrying an accept that failed on a ready socket.
constexpr int AcceptRetryMs = 2;
// A client that speaks first but sends nothing is accepted after this long.
constexpr int SilentClientAcceptS = 1;
// What a refused client sent before its refusal is read and dropped, up to
// this much, so that closing over unread bytes does not reset the
// connection and throw the refusal away.
constexpr std::size_t RefusalDrainLimit = 64 * 1024;

} // namespace

SessionWaker::SessionWaker() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SessionWaker::~SessionWaker()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void SessionWaker::wake()
{
    // Paired with arm(): of "pending, then look for a sleeper" here and
    // "sleeping, then look for a wake" there, at least one side sees the
    // other, so a wake is never lost.
    pending_.store(true);
    if (sleeping_.load()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
    }
}

bool SessionWaker::arm()
{
    sleeping_.store(true);
    if (pending_.load()) {
        sleeping_.store(false);
        return false;
    }
    return true;
}

void SessionWaker::disarm(bool signalled)
{
    sleeping_.store(false);
    if (signalled) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t drained = ::read(fd_, &count, sizeof count);
    }
}

ServiceListener::ServiceListener(int maximumSessions, std::uint32_t idleLimitMs)
    : maximumSessions_(maximumSessions), idleLimitMs_(idleLimitMs)
{
}

ServiceListener::~ServiceListener()
{
    deactivate();
}

bool ServiceListener::activate(std::uint16_t port)
{
    if (isRunning()) {
        return false;
    }
    {
        LockGuard guard(lock_);
        if (!listening_.listenOn(port)) {
            return false;
        }
        if (clientSpeaksFirst_) {
            listening_.acceptWithData(SilentClientAcceptS);
        }
    }
    if (!start()) {
        LockGuard guard(lock_);
        listening_.close();
        return false;
    }
    return true;
}

void ServiceListener::deactivate()
{
    stop(StopTimeoutMs);
    LockGuard guard(lock_);
    listening_.close();
    // Every session is asked first, so that they all end together; then
    // each stops its own thread as it is destroyed. Session threads never
    // take this lock, so waiting for them here cannot deadlock.
    for (auto& session : sessions_) {
        session->requestStop();
    }
    for (auto& session : sessions_) {
        session->stopSession();
        finishedBytesIn_ += session->bytesIn();
        finishedBytesOut_ += session->bytesOut();
        session.reset();
    }
    sessions_.clear();
}

int ServiceListener::connectionCount() const
{
    // Finished sessions wait for the next reap; they no longer count.
    LockGuard guard(lock_);
    int count = 0;
    for (const auto& session : sessions_) {
        count += session->isFinished() ? 0 : 1;
    }
    return count;
}

std::uint64_t ServiceListener::totalBytesIn() const
{
    LockGuard guard(lock_);
    std::uint64_t total = finishedBytesIn_;
    for (const auto& session : sessions_) {
        total += session->bytesIn();
    }
    return total;
}

std::uint64_t ServiceListener::totalBytesOut() const
{
    LockGuard guard(lock_);
    std::uint64_t total = finishedBytesOut_;
    for (const auto& session : sessions_) {
        total += session->bytesOut();
    }
    return total;
}

std::uint16_t ServiceListener::listeningPort() const
{
    LockGuard guard(lock_);
    return listening_.localPort();
}

void ServiceListener::setMaximumSessions(int maximum)
{
    LockGuard guard(lock_);
    maximumSessions_ = maximum;
}

std::unique_ptr<ServiceSession> ServiceListener::createSession(std::unique_ptr<LineSocket>)
{
    return nullptr;
}

void ServiceListener::reap(bool checkIdle)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        ServiceSession& session = *sessions_[i];
        if (checkIdle) {
            session.checkIdle(idleLimitMs_);
        }
        if (!session.isFinished()) {
            if (kept != i) {
                sessions_[kept] = std::move(sessions_[i]);
            }
            ++kept;
            continue;
        }
        // Its thread ends first, so that the bytes of its last words count.
        session.stopSession();
        finishedBytesIn_ += session.bytesIn();
        finishedBytesOut_ += session.bytesOut();
        sessions_[i].reset();
    }
    sessions_.resize(kept);
}

std::unique_ptr<LineSocket> ServiceListener::admit(std::unique_ptr<LineSocket> socket)
{
    AddressSlot slot = perAddress_.take(socket->peerIp());
    if (!slot.held()) {
        return socket;
    }
    auto session = createSession(std::move(socket));
    if (session) {
        session->setWaker(&waker_);
        session->holdAddressSlot(std::move(slot));
        sessions_.push_back(std::move(session));
    }
    return nullptr;
}

void ServiceListener::refuse(LineSocket& socket) const
{
    // Neither call waits: the input is what has arrived, and a new
    // connection's send buffer holds a refusal many times over.
    char scratch[LineSocket::ReceiveChunk];
    const auto drain = [&] {
        for (std::size_t dropped = 0; dropped < RefusalDrainLimit;) {
            std::size_t length = sizeof scratch;
            if (!socket.receiveSome(scratch, length) || length == 0) {
                return;
            }
            dropped += length;
        }
    };
    drain();
    std::size_t length = refusal_.size();
    if (socket.sendSome(refusal_.data(), length)) {
        socket.shutdownSending();
        drain();
    }
    socket.close();
}

void ServiceListener::run()
{
    bool listenerSignalled = false;
    // Reaping visits every session, so it is done when one has finished
    // and, with the idle check, once a second; not after every accept.
    bool reapDue = true;
    std::uint32_t lastReap = tickCount(); // of the last idle check
    for (;;) {
        const bool idleCheckDue = tickCount() - lastReap >= static_cast<std::uint32_t>(IdleCheckIntervalMs);
        if (waker_.takeWake() || reapDue || idleCheckDue) {
            LockGuard guard(lock_);
            reap(idleCheckDue);
            reapDue = false;
            if (idleCheckDue) {
                lastReap = tickCount();
            }
        }
        if (stopRequested()) {
            return;
        }
        bool mayAccept = false;
        bool haveSessions = false;
        bool acceptFailed = false;
        bool accepted = false;
        std::unique_ptr<LineSocket> overCap;
        {
            LockGuard guard(lock_);
            mayAccept =
                static_cast<int>(sessions_.size()) < maximumSessions_ && listening_.state() == SocketState::Listening;
            if (mayAccept) {
                auto socket = std::make_unique<LineSocket>();
                if (listening_.acceptInto(*socket)) {
                    overCap = admit(std::move(socket));
                    accepted = true;
                } else {
                    // A ready socket whose accept fails (out of descriptors,
                    // say) stays ready; retry after a short pause instead of
                    // spinning.
                    acceptFailed = listenerSignalled;
                }
            }
            haveSessions = !sessions_.empty();
        }
        if (accepted) {
            if (overCap) {
                refuse(*overCap);
            }
            // Another connection may be waiting already.
            listenerSignalled = false;
            continue;
        }

        // A finished session wakes the listener only while it waits for room
        // under its cap. Otherwise it is reaped at the next accept or idle
        // check: a wake per connection would cost a switch to this thread
        // for every request on a busy server. Unarmed, the waker is not
        // watched either, so a signal left from an armed wait cannot keep
        // the poll from sleeping; the next armed wait drains it.
        const bool reapPromptly = !mayAccept;
        const bool watchListener = mayAccept && !acceptFailed;
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = pollfd{stopEventDescriptor(), POLLIN, 0};
        const nfds_t wakerAt = count;
        if (reapPromptly) {
            fds[count++] = pollfd{waker_.descriptor(), POLLIN, 0};
        }
        const nfds_t listenerAt = count;
        if (watchListener) {
            fds[count++] = pollfd{listening_.descriptor(), POLLIN, 0};
        }
        int timeoutMs = -1;
        if (haveSessions) {
            const std::uint32_t sinceReap = tickCount() - lastReap;
            timeoutMs = sinceReap >= static_cast<std::uint32_t>(IdleCheckIntervalMs)
                            ? 0
                            : IdleCheckIntervalMs - static_cast<int>(sinceReap);
        }
        if (acceptFailed) {
            timeoutMs = AcceptRetryMs;
        }
        if (reapPromptly && !waker_.arm()) {
            continue; // a session finished meanwhile: reap it first
        }
        const int ready = ::poll(fds, count, timeoutMs);
        if (reapPromptly) {
            waker_.disarm(ready > 0 && fds[wakerAt].revents != 0);
        }
        listenerSignalled = watchListener && ready > 0 && fds[listenerAt].revents != 0;
        if (ready < 0 && errno != EINTR) {
            // Nothing sensible to wait on; keep the loop alive but slow.
            pause(IdleCheckIntervalMs);
        }
    }
}

} // namespace vantrel
