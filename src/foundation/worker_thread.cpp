// WorkerThread over POSIX threads. The stop event is an eventfd that stays
// readable while a stop is signalled, so a body can wait on it together
// with its sockets in one poll; an atomic flag beside it answers
// stopRequested() without a system call. A thread that ended is always
// joined (or, after a stop time-out, detached) so no thread leaks.
#include "foundation/worker_thread.h"

#include "foundation/clock.h"
#include "foundation/tcp_socket.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <vector>

namespace vantrel {

namespace {

#if defined(VT_SANITIZED)
// Sanitizers enlarge every frame considerably.
constexpr std::size_t SessionStackBytes = 1024 * 1024;
#else
constexpr std::size_t SessionStackBytes = 256 * 1024;
#endif

// Waits in poll() until something is ready or the time-out passes; a signal
// interrupting the wait does not shorten it. Returns poll's final count.
int pollWithDeadline(pollfd* fds, nfds_t count, int timeoutMs) {
    const std::uint32_t begin = tickCount();
    int remaining = timeoutMs;
    for (;;) {
        const int ready = ::poll(fds, count, remaining);
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
        if (timeoutMs >= 0) {
            const std::uint32_t spent = tickCount() - begin;
            if (spent >= static_cast<std::uint32_t>(timeoutMs)) {
                return 0;
            }
            remaining = timeoutMs - static_cast<int>(spent);
        }
    }
}

} // namespace

WorkerThread::WorkerThread(StackSize stack) : stack_(stack) {
    stopEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

WorkerThread::~WorkerThread() {
    stop(StopTimeoutMs);
    if (stopEvent_ >= 0) {
        ::close(stopEvent_);
    }
}

void* WorkerThread::entry(void* self) {
    auto* worker = static_cast<WorkerThread*>(self);
    std::uint64_t generation = 0;
    {
        LockGuard guard(worker->lock_);
        generation = worker->generation_;
    }
    worker->run();
    LockGuard guard(worker->lock_);
    // A thread detached after a stop time-out must not clear the flag of a
    // thread started later on the same object.
    if (worker->generation_ == generation) {
        worker->running_ = false;
    }
    return nullptr;
}

void WorkerThread::joinFinished() {
    if (joinable_) {
        pthread_t thread;
        {
            LockGuard guard(lock_);
            thread = thread_;
        }
        ::pthread_join(thread, nullptr);
        joinable_ = false;
    }
}

bool WorkerThread::start() {
    if (stopEvent_ < 0) {
        return false;
    }
    {
        LockGuard guard(lock_);
        if (running_) {
            return false;
        }
    }
    // A body that returned on its own leaves a thread to collect.
    joinFinished();

    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) {
        return false;
    }
    if (stack_ == StackSize::Session) {
        ::pthread_attr_setstacksize(&attributes, SessionStackBytes);
    }
    bool started = false;
    {
        // Held across the creation so that the new thread cannot clear the
        // flag before it has been set.
        LockGuard guard(lock_);
        running_ = true;
        ++generation_;
        if (::pthread_create(&thread_, &attributes, &WorkerThread::entry, this) == 0) {
            started = true;
        } else {
            running_ = false;
        }
    }
    ::pthread_attr_destroy(&attributes);
    joinable_ = started;
    return started;
}

void WorkerThread::stop(std::uint32_t timeoutMs) {
    if (!joinable_) {
        return;
    }
    pthread_t thread;
    bool running = false;
    {
        LockGuard guard(lock_);
        running = running_;
        thread = thread_;
    }
    if (!running) {
        joinFinished();
        return;
    }

    stopFlag_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopEvent_, &one, sizeof one);

    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int result;
    do {
        result = ::pthread_timedjoin_np(thread, nullptr, &deadline);
    } while (result == EINTR);
    if (result != 0) {
        // The body ignored the stop; threads cannot be terminated safely
        // here, so it is left to end on its own.
        ::pthread_detach(thread);
        LockGuard guard(lock_);
        running_ = false;
    }
    joinable_ = false;

    std::uint64_t drained = 0;
    while (::read(stopEvent_, &drained, sizeof drained) > 0) {
    }
    stopFlag_.store(false);
}

bool WorkerThread::isRunning() const {
    LockGuard guard(lock_);
    return running_;
}

bool WorkerThread::stopRequested() const {
    return stopEvent_ < 0 || stopFlag_.load();
}

bool WorkerThread::pause(int timeoutMs) const {
    if (stopEvent_ >= 0) {
        pollfd stopFd{stopEvent_, POLLIN, 0};
        pollWithDeadline(&stopFd, 1, timeoutMs);
    }
    return stopRequested();
}

void WorkerThread::waitFor(std::initializer_list<SocketWait> items, int timeoutMs) const {
    std::array<pollfd, 8> fixed{};
    std::vector<pollfd> grown;
    pollfd* fds = fixed.data();
    if (items.size() + 1 > fixed.size()) {
        grown.resize(items.size() + 1);
        fds = grown.data();
    }
    nfds_t count = 0;
    fds[count++] = pollfd{stopEvent_, POLLIN, 0};
    for (const SocketWait& item : items) {
        if (item.socket == nullptr || item.socket->descriptor() < 0) {
            continue;
        }
        const short events = item.what == WaitFor::Readable ? POLLIN : POLLOUT;
        fds[count++] = pollfd{item.socket->descriptor(), events, 0};
    }
    // Waiting only for closed sockets could never end before the time-out;
    // the caller's next operation reports the closed socket instead.
    if (count == 1 && items.size() > 0) {
        return;
    }
    pollWithDeadline(fds, count, timeoutMs);
}

} // namespace vantrel
