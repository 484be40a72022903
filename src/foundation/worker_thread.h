// WorkerThread: an object that owns one system thread and a waitable stop
// event. The derived class supplies the body in run(); the body waits with
// pause() or waitFor(), which wake at once when a stop is requested, so
// every thread notices a stop within milliseconds without busy polling.
#pragma once

#include "foundation/critical_lock.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace vantrel {

class TcpSocket;
class ThreadCache;
struct BodyTicket;

enum class WaitFor {
    Readable,
    Writable
};

struct SocketWait {
    const TcpSocket* socket;
    WaitFor what;
};

// Session threads hold only small fixed buffers, so they get a modest stack.
enum class StackSize {
    Default,
    Session
};

class WorkerThread {
public:
    static constexpr std::uint32_t StopTimeoutMs = 3600000;

    explicit WorkerThread(StackSize stack = StackSize::Default);
    // Stops with StopTimeoutMs. A derived class whose run() uses its own
    // members must stop the thread in its own destructor first.
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    [[nodiscard]] bool start();
    // Signals the stop event, waits up to timeoutMs, detaches a thread that
    // did not end in time, and resets the event so the object can start again.
    // Must not be called from the object's own thread.
    void stop(std::uint32_t timeoutMs);
    bool isRunning() const;
    bool stopRequested() const;
    // Asks a running body to end, without waiting for it: a caller that
    // stops many objects asks them all first, so that they end together.
    void requestStop();
    // The stop event as a pollable descriptor (readable while signalled),
    // for calls on this object's thread that must also wake on a stop.
    int stopEventDescriptor() const { return stopEvent_; }

    // Destroys a stopped object once its bodies have really returned. After a stop
    // that gave up waiting (a body blocked in a call that ignores the stop
    // event), the object is handed to the thread still running the body,
    // which destroys it when the body returns; otherwise it goes at once.
    // Whoever passes the object here must not touch it again.
    static void destroyWhenEnded(std::unique_ptr<WorkerThread> worker);

protected:
    virtual void run() {}

    // Waits for a stop request or timeoutMs (negative: no limit).
    // Returns stopRequested().
    bool pause(int timeoutMs) const;
    // Waits until one of the sockets is ready as asked, a stop is requested,
    // or timeoutMs passes (negative: no limit). Closed sockets are skipped;
    // when every socket given is closed it returns at once.
    void waitFor(std::initializer_list<SocketWait> items, int timeoutMs) const;

private:
    friend class ThreadCache;
    // After the body returned: marks the object idle unless its owner gave
    // up waiting, and tells the owner that the thread has let go of it.
    static void releaseBody(BodyTicket& ticket);
    // Waits until the thread of a body that returned has let go.
    void collectFinished();
    // Sets the stop flag and the stop event.
    void signalStop();

    mutable CriticalLock lock_;
    bool running_ VT_GUARDED_BY(lock_) = false;
    std::shared_ptr<BodyTicket> ticket_ VT_GUARDED_BY(lock_);
    // The bodies that stops gave up on, for destroyWhenEnded.
    std::vector<std::shared_ptr<BodyTicket>> abandoned_ VT_GUARDED_BY(lock_);
    int stopEvent_ = -1;
    std::atomic<bool> stopFlag_{false};     // mirrors the event for cheap tests
    std::atomic<bool> gaveUpOnBody_{false}; // a stop timed out once
    StackSize stack_;
};

// Threads whose body ended wait here for the next start() of their stack
// size class (exposed for tests and diagnostics).
std::size_t parkedThreadCount();

} // namespace vantrel
