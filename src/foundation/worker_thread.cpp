// WorkerThread over POSIX threads. The stop event is an eventfd that stays
// readable while a stop is signalled, so a body can wait on it together
// with its sockets in one poll; an atomic flag beside it answers
// stopRequested() without a system call.
//
// A connection lives for milliseconds, and creating and ending a system
// thread for each costs more than serving it. So a thread whose body has
// returned parks in a small process-wide cache (per stack size) and runs
// the body of the next start(); parked threads end after a while unused,
// or with the process. Each start hands its body over with a ticket that
// the thread marks when it has let go of the object, which is what stop()
// and the destructor wait for in place of a join.
#include "foundation/worker_thread.h"

#include "foundation/clock.h"
#include "foundation/tcp_socket.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <vector>

namespace vantrel {

namespace {

#if defined(VT_SANITIZED)
// Sanitizers enlarge every frame considerably.
constexpr std::size_t SessionStackBytes = 1024 * 1024;
#else
constexpr std::size_t SessionStackBytes = 256 * 1024;
#endif

// Bounds of the thread cache: parked threads per stack size, and how long
// one waits for work before it ends.
constexpr std::size_t MaxParkedThreads = 64;
constexpr auto ParkedLifetime = std::chrono::seconds(30);
// Drained stop events kept for the next object, instead of a new eventfd
// and a close per connection.
constexpr std::size_t MaxSpareEvents = 256;

// Waits in poll() until something is ready or the time-out passes; a signal
// interrupting the wait does not shorten it. Returns poll's final count.
int pollWithDeadline(pollfd* fds, nfds_t count, int timeoutMs)
{
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

// Stop events of destroyed objects, unsignalled, ready for new ones.
class SpareEvents final {
public:
    static SpareEvents& instance()
    {
        // Never destroyed: objects may still be destroyed during exit.
        static SpareEvents& spare = *std::make_unique<SpareEvents>().release();
        return spare;
    }

    int take()
    {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            if (!events_.empty()) {
                const int event = events_.back();
                events_.pop_back();
                return event;
            }
        }
        return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }

    // The event must not be signalled.
    void giveBack(int event)
    {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            if (events_.size() < MaxSpareEvents) {
                events_.push_back(event);
                return;
            }
        }
        ::close(event);
    }

private:
    std::mutex mutex_;
    std::vector<int> events_;
};

} // namespace

// One start() of one object, shared by the object and the thread running
// its body.
struct BodyTicket {
    explicit BodyTicket(WorkerThread& owner) : worker(&owner) {}
    WorkerThread* const worker;
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;  // the thread has let go of the object
    bool abandoned = false; // the owner stopped waiting: never touch it again
    // An abandoned object handed over to be destroyed when its body returns.
    std::unique_ptr<WorkerThread> orphan;
};

class ThreadCache final {
public:
    static ThreadCache& instance()
    {
        // Never destroyed: parked threads use it until the process ends.
        static ThreadCache& cache = *std::make_unique<ThreadCache>().release();
        return cache;
    }

    // Runs the ticket's body on a parked thread or a new one.
    bool launch(const std::shared_ptr<BodyTicket>& ticket, StackSize stack)
    {
        std::shared_ptr<Parked> waiting;
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            std::vector<std::shared_ptr<Parked>>& parked = parked_[classOf(stack)];
            if (!parked.empty()) {
                waiting = std::move(parked.back());
                parked.pop_back();
            }
        }
        if (waiting) {
            // Off the list, the thread is this call's alone: the job is
            // written before the post, which the thread's wait pairs with.
            waiting->job = ticket;
            ::sem_post(&waiting->ready);
            return true;
        }
        pthread_attr_t attributes;
        if (::pthread_attr_init(&attributes) != 0) {
            return false;
        }
        ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        if (stack == StackSize::Session) {
            ::pthread_attr_setstacksize(&attributes, SessionStackBytes);
        }
        auto first = std::make_unique<FirstJob>(FirstJob{ticket, stack});
        pthread_t thread;
        const int created = ::pthread_create(&thread, &attributes, &ThreadCache::threadMain, first.get());
        ::pthread_attr_destroy(&attributes);
        if (created != 0) {
            return false;
        }
        (void)first.release(); // the new thread owns it now
        return true;
    }

    std::size_t parkedCount()
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        return parked_[0].size() + parked_[1].size();
    }

private:
    struct FirstJob {
        std::shared_ptr<BodyTicket> ticket;
        StackSize stack;
    };
    // One per thread; shared with a launch() that is about to wake it. A
    // semaphore rather than a condition variable: a hand-over costs one
    // wake and one wait, without the mutex a condition variable retakes.
    struct Parked {
        Parked() { ::sem_init(&ready, 0, 0); }
        ~Parked() { ::sem_destroy(&ready); }
        Parked(const Parked&) = delete;
        Parked& operator=(const Parked&) = delete;
        sem_t ready;
        std::shared_ptr<BodyTicket> job; // set once off the list, before the post
    };

    // Waits for the post of a launch() until `deadline`, or with none for as
    // long as it takes; false when the time ran out. The deadline is on
    // CLOCK_REALTIME, sem_timedwait's clock (the race checker follows that
    // call, not sem_clockwait); a clock change only moves the moment an
    // idle parked thread ends.
    static bool awaitJob(Parked& self, const timespec* deadline)
    {
        for (;;) {
            const int result = deadline != nullptr ? ::sem_timedwait(&self.ready, deadline) : ::sem_wait(&self.ready);
            if (result == 0) {
                return true;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    static std::size_t classOf(StackSize stack) { return stack == StackSize::Session ? 1 : 0; }

    static void* threadMain(void* raw)
    {
        std::unique_ptr<FirstJob> first(static_cast<FirstJob*>(raw));
        std::shared_ptr<BodyTicket> ticket = std::move(first->ticket);
        const StackSize stack = first->stack;
        first.reset();
        if (stack == StackSize::Session) {
            // A connection's thread works in short bursts between waits.
            // Woken while the processor is busy, it need not preempt the
            // running thread (often the listener, mid-accept, or the one
            // that just woke it); it runs when that one yields or its slice
            // ends, and at once on an idle processor. Under many short
            // connections this saves a switch and a round of cache misses
            // per connection. Failure leaves the normal policy.
            const sched_param normal{};
            ::sched_setscheduler(0, SCHED_BATCH, &normal);
        }
        instance().serve(std::move(ticket), stack);
        return nullptr;
    }

    void serve(std::shared_ptr<BodyTicket> ticket, StackSize stack)
    {
        std::vector<std::shared_ptr<Parked>>& parked = parked_[classOf(stack)];
        const auto self = std::make_shared<Parked>();
        while (ticket) {
            ticket->worker->run();
            // On the list before the owner learns that the body ended, so
            // that the next start() after a reap finds this thread.
            bool stays = false;
            {
                const std::lock_guard<std::mutex> guard(mutex_);
                if (parked.size() < MaxParkedThreads) {
                    parked.push_back(self);
                    stays = true;
                }
            }
            WorkerThread::releaseBody(*ticket);
            ticket.reset();
            if (!stays) {
                return;
            }

            timespec deadline{};
            ::clock_gettime(CLOCK_REALTIME, &deadline);
            deadline.tv_sec += static_cast<time_t>(ParkedLifetime.count());
            if (!awaitJob(*self, &deadline)) {
                {
                    const std::lock_guard<std::mutex> guard(mutex_);
                    // launch() takes a thread off the list before it hands
                    // over a job: a thread still listed has none coming.
                    const auto listed = std::find(parked.begin(), parked.end(), self);
                    if (listed != parked.end()) {
                        parked.erase(listed);
                        return;
                    }
                }
                (void)awaitJob(*self, nullptr);
            }
            ticket = std::move(self->job);
        }
    }

    std::mutex mutex_;
    std::array<std::vector<std::shared_ptr<Parked>>, 2> parked_;
};

std::size_t parkedThreadCount()
{
    return ThreadCache::instance().parkedCount();
}

WorkerThread::WorkerThread(StackSize stack) : stack_(stack)
{
    stopEvent_ = SpareEvents::instance().take();
}

WorkerThread::~WorkerThread()
{
    stop(StopTimeoutMs);
    if (stopEvent_ < 0) {
        return;
    }
    // stop() left the event unsignalled; but a body given up on may still
    // poll it, so that one is not handed to another object.
    if (gaveUpOnBody_.load()) {
        ::close(stopEvent_);
    } else {
        SpareEvents::instance().giveBack(stopEvent_);
    }
}

void WorkerThread::releaseBody(BodyTicket& ticket)
{
    std::unique_ptr<WorkerThread> orphan;
    {
        const std::lock_guard<std::mutex> guard(ticket.mutex);
        if (!ticket.abandoned) {
            LockGuard running(ticket.worker->lock_);
            ticket.worker->running_ = false;
        }
        ticket.finished = true;
        orphan = std::move(ticket.orphan);
        ticket.ended.notify_all();
    }
    // Outside the ticket's lock: the destructor takes locks of its own.
    destroyWhenEnded(std::move(orphan));
}

void WorkerThread::requestStop()
{
    bool running = false;
    {
        LockGuard guard(lock_);
        running = running_;
    }
    if (running) {
        signalStop();
    }
}

void WorkerThread::signalStop()
{
    stopFlag_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopEvent_, &one, sizeof one);
}

void WorkerThread::destroyWhenEnded(std::unique_ptr<WorkerThread> worker)
{
    if (!worker) {
        return;
    }
    for (;;) {
        std::shared_ptr<BodyTicket> ticket;
        {
            LockGuard guard(worker->lock_);
            if (worker->abandoned_.empty()) {
                break;
            }
            ticket = std::move(worker->abandoned_.back());
            worker->abandoned_.pop_back();
        }
        const std::lock_guard<std::mutex> guard(ticket->mutex);
        if (!ticket->finished) {
            // The stop that gave up cleared its request for a next start;
            // there is none now, so the body is asked again to end as soon
            // as its blocking call returns. Its end brings the object back
            // here for any other body given up on.
            worker->signalStop();
            ticket->orphan = std::move(worker);
            return;
        }
    }
    worker.reset();
}

void WorkerThread::collectFinished()
{
    std::shared_ptr<BodyTicket> ticket;
    {
        LockGuard guard(lock_);
        ticket.swap(ticket_);
    }
    if (!ticket) {
        return;
    }
    // The body has returned; its thread lets go within moments.
    std::unique_lock<std::mutex> lock(ticket->mutex);
    ticket->ended.wait(lock, [&] { return ticket->finished; });
}

bool WorkerThread::start()
{
    if (stopEvent_ < 0) {
        return false;
    }
    {
        LockGuard guard(lock_);
        if (running_) {
            return false;
        }
    }
    collectFinished();

    auto ticket = std::make_shared<BodyTicket>(*this);
    {
        // Set before the body can run, so that its end cannot be overtaken.
        LockGuard guard(lock_);
        running_ = true;
        ticket_ = ticket;
    }
    if (!ThreadCache::instance().launch(ticket, stack_)) {
        LockGuard guard(lock_);
        running_ = false;
        ticket_.reset();
        return false;
    }
    return true;
}

void WorkerThread::stop(std::uint32_t timeoutMs)
{
    std::shared_ptr<BodyTicket> ticket;
    bool running = false;
    {
        LockGuard guard(lock_);
        ticket = ticket_;
        running = running_;
    }
    if (!ticket) {
        return;
    }
    if (!running) {
        collectFinished();
        return;
    }

    signalStop();

    bool gaveUp = false;
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock<std::mutex> lock(ticket->mutex);
        if (!ticket->ended.wait_until(lock, deadline, [&] { return ticket->finished; })) {
            // The body ignored the stop; threads cannot be terminated safely
            // here, so it is left to end on its own, and its thread will not
            // touch this object again after its body returns.
            ticket->abandoned = true;
            gaveUp = true;
            gaveUpOnBody_.store(true);
        }
    }
    {
        LockGuard guard(lock_);
        if (gaveUp) {
            running_ = false;
            abandoned_.push_back(ticket);
        }
        if (ticket_ == ticket) {
            ticket_.reset();
        }
    }

    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t read = ::read(stopEvent_, &drained, sizeof drained);
    stopFlag_.store(false);
}

bool WorkerThread::isRunning() const
{
    LockGuard guard(lock_);
    return running_;
}

bool WorkerThread::stopRequested() const
{
    return stopEvent_ < 0 || stopFlag_.load();
}

bool WorkerThread::pause(int timeoutMs) const
{
    if (stopEvent_ >= 0) {
        pollfd stopFd{stopEvent_, POLLIN, 0};
        pollWithDeadline(&stopFd, 1, timeoutMs);
    }
    return stopRequested();
}

void WorkerThread::waitFor(std::initializer_list<SocketWait> items, int timeoutMs) const
{
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
        // Bytes already decrypted wait inside TLS, not on the descriptor.
        if (item.what == WaitFor::Readable && item.socket->hasPendingInput()) {
            return;
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
