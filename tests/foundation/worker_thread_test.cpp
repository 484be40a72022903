// WorkerThread: start/stop life cycle, stop requests waking a blocked body,
// restarts, and the detach after a stop time-out.
#include "foundation/worker_thread.h"

#include "net_test_support.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

namespace vantrel {
namespace {

using testing::LoopbackPair;
using testing::waitUntil;

// Blocks in pause() with no time limit until a stop is requested.
class PausingWorker final : public WorkerThread {
public:
    ~PausingWorker() override { stop(StopTimeoutMs); }
    std::atomic<int> runs{0};
    std::atomic<bool> inside{false};

protected:
    void run() override
    {
        ++runs;
        inside = true;
        while (!pause(-1)) {
        }
        inside = false;
    }
};

TEST(WorkerThreadTest, StartIsRefusedWhileRunningAndStopWakesAPausedBody)
{
    PausingWorker worker;
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(worker.isRunning());
    EXPECT_FALSE(worker.start());
    ASSERT_TRUE(waitUntil([&] { return worker.inside.load(); }));

    worker.stop(WorkerThread::StopTimeoutMs); // would hang for an hour if pause ignored it
    EXPECT_FALSE(worker.isRunning());
    EXPECT_FALSE(worker.inside.load());
    EXPECT_EQ(worker.runs.load(), 1);
}

TEST(WorkerThreadTest, StopOnANeverStartedWorkerReturnsAtOnce)
{
    PausingWorker worker;
    worker.stop(WorkerThread::StopTimeoutMs);
    EXPECT_FALSE(worker.isRunning());
    EXPECT_FALSE(worker.stopRequested());
    EXPECT_EQ(worker.runs.load(), 0);
}

TEST(WorkerThreadTest, AStoppedWorkerCanStartAgainWithTheStopCleared)
{
    PausingWorker worker;
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(worker.start()) << "round " << round;
        ASSERT_TRUE(waitUntil([&] { return worker.inside.load(); }));
        EXPECT_FALSE(worker.stopRequested());
        worker.stop(WorkerThread::StopTimeoutMs);
        EXPECT_FALSE(worker.stopRequested());
        EXPECT_FALSE(worker.isRunning());
    }
    EXPECT_EQ(worker.runs.load(), 3);
}

// Returns from run() on its own.
class OneShotWorker final : public WorkerThread {
public:
    ~OneShotWorker() override { stop(StopTimeoutMs); }
    std::atomic<int> runs{0};

protected:
    void run() override { ++runs; }
};

TEST(WorkerThreadTest, ABodyThatReturnsLeavesTheWorkerIdleAndRestartable)
{
    OneShotWorker worker;
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(waitUntil([&] { return !worker.isRunning(); }));
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(waitUntil([&] { return worker.runs.load() == 2 && !worker.isRunning(); }));
}

// Waits for the server end of a connection to become readable.
class SocketWaitingWorker final : public WorkerThread {
public:
    explicit SocketWaitingWorker(const TcpSocket& socket) : socket_(socket) {}
    ~SocketWaitingWorker() override { stop(StopTimeoutMs); }
    std::atomic<int> wakes{0};
    std::atomic<bool> sawStop{false};

protected:
    void run() override
    {
        waitFor({{&socket_, WaitFor::Readable}}, -1);
        ++wakes;
        sawStop = stopRequested();
        while (!pause(-1)) {
        }
    }

private:
    const TcpSocket& socket_;
};

TEST(WorkerThreadTest, WaitForWakesOnDataAndOnStop)
{
    LoopbackPair pair;
    ASSERT_TRUE(pair.connect());
    {
        SocketWaitingWorker worker(pair.server);
        ASSERT_TRUE(worker.start());
        ASSERT_TRUE(testing::sendAll(pair.client, "x"));
        ASSERT_TRUE(waitUntil([&] { return worker.wakes.load() == 1; }));
        EXPECT_FALSE(worker.sawStop.load());
        worker.stop(WorkerThread::StopTimeoutMs);
    }
    {
        // Nothing to read beyond the byte above would keep it waiting
        // forever; only the stop can end this wait.
        char byte;
        std::size_t length = 1;
        ASSERT_TRUE(pair.server.receiveSome(&byte, length));
        ASSERT_EQ(length, 1u);
        SocketWaitingWorker worker(pair.server);
        ASSERT_TRUE(worker.start());
        worker.stop(WorkerThread::StopTimeoutMs);
        EXPECT_EQ(worker.wakes.load(), 1);
        EXPECT_TRUE(worker.sawStop.load());
    }
}

// Ignores stop requests until released.
class StubbornWorker final : public WorkerThread {
public:
    std::atomic<bool> release{false};
    std::atomic<bool> done{false};

protected:
    void run() override
    {
        while (!release.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    }
};

TEST(WorkerThreadTest, StopGivesUpAfterTheTimeOutAndLeavesTheWorkerIdle)
{
    // Static: the detached thread still runs after stop() returns.
    static StubbornWorker worker;
    ASSERT_TRUE(worker.start());
    worker.stop(50);
    EXPECT_FALSE(worker.isRunning());
    EXPECT_FALSE(worker.stopRequested());
    worker.release = true;
    EXPECT_TRUE(waitUntil([&] { return worker.done.load(); }));
}

// Records the system thread it ran on.
class ThreadRecordingWorker final : public WorkerThread {
public:
    ThreadRecordingWorker() : WorkerThread(StackSize::Session) {}
    ~ThreadRecordingWorker() override { stop(StopTimeoutMs); }
    std::atomic<long> systemThread{0};

protected:
    void run() override { systemThread = ::syscall(SYS_gettid); }
};

TEST(WorkerThreadTest, TheThreadOfAFinishedBodyRunsTheNextStart)
{
    std::set<long> threads;
    for (int round = 0; round < 20; ++round) {
        ThreadRecordingWorker worker;
        ASSERT_TRUE(worker.start());
        ASSERT_TRUE(waitUntil([&] { return !worker.isRunning(); }));
        threads.insert(worker.systemThread.load());
    }
    // A thread and its successors (rarely one more, should another thread
    // park in between) instead of twenty.
    EXPECT_LE(threads.size(), 2u);
    EXPECT_GE(parkedThreadCount(), 1u);
}

// Waits once without a limit and notes whether that wait ended on a stop.
class SingleWaitWorker final : public WorkerThread {
public:
    ~SingleWaitWorker() override { stop(StopTimeoutMs); }
    std::atomic<bool> inside{false};
    std::atomic<bool> wokeWithoutStop{false};

protected:
    void run() override
    {
        inside = true;
        pause(-1);
        wokeWithoutStop = !stopRequested();
        while (!pause(-1)) {
        }
    }
};

TEST(WorkerThreadTest, ReusedThreadsAndStopEventsStartUnsignalled)
{
    for (int round = 0; round < 30; ++round) {
        auto worker = std::make_unique<SingleWaitWorker>();
        ASSERT_TRUE(worker->start());
        ASSERT_TRUE(waitUntil([&] { return worker->inside.load(); }));
        EXPECT_FALSE(worker->stopRequested());
        worker->stop(WorkerThread::StopTimeoutMs);
        EXPECT_FALSE(worker->wokeWithoutStop.load()) << "round " << round;
        EXPECT_FALSE(worker->isRunning());
    }
}

// First body ignores the stop until released; later bodies wait for a stop.
class StubbornOnceWorker final : public WorkerThread {
public:
    std::atomic<int> bodies{0};
    std::atomic<bool> release{false};
    std::atomic<bool> firstDone{false};

protected:
    void run() override
    {
        if (++bodies == 1) {
            while (!release.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            firstDone = true;
            return;
        }
        while (!pause(-1)) {
        }
    }
};

TEST(WorkerThreadTest, ABodyGivenUpOnDoesNotEndTheNextStartOfItsObject)
{
    // Static: the given-up thread still runs after stop() returns.
    static StubbornOnceWorker worker;
    worker.bodies = 0;
    worker.release = false;
    worker.firstDone = false;
    ASSERT_TRUE(worker.start());
    worker.stop(50);
    EXPECT_FALSE(worker.isRunning());
    ASSERT_TRUE(worker.start());
    ASSERT_TRUE(waitUntil([&] { return worker.bodies.load() == 2; }));
    worker.release = true;
    ASSERT_TRUE(waitUntil([&] { return worker.firstDone.load(); }));
    // The given-up thread, now ending, must leave the second body's state.
    EXPECT_FALSE(waitUntil([&] { return !worker.isRunning(); }, std::chrono::milliseconds(300)));
    worker.stop(WorkerThread::StopTimeoutMs);
    EXPECT_FALSE(worker.isRunning());
}

// Ignores the stop until the test releases it, then still uses its own
// members; tells the test when it has been destroyed.
class BlockedWorker final : public WorkerThread {
public:
    BlockedWorker(std::atomic<bool>& release, std::atomic<bool>& destroyed) : release_(release), destroyed_(destroyed)
    {
    }
    ~BlockedWorker() override
    {
        stop(StopTimeoutMs);
        destroyed_ = true;
    }
    std::atomic<bool> inside{false};

protected:
    void run() override
    {
        inside = true;
        while (!release_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // As a blocking connect that finally fails would: the object again,
        // and then the wait for a stop that the given-up stop had cleared.
        for (int& value : scratch_) {
            value += 1;
        }
        inside = false;
        while (!pause(-1)) {
        }
    }

private:
    std::atomic<bool>& release_;
    std::atomic<bool>& destroyed_;
    std::array<int, 64> scratch_{};
};

TEST(WorkerThreadTest, AnObjectGivenUpOnLivesUntilItsBodyHasReturned)
{
    // Static: the test's flags outlive the thread that ends after it.
    static std::atomic<bool> release{false};
    static std::atomic<bool> destroyed{false};
    auto worker = std::make_unique<BlockedWorker>(release, destroyed);
    ASSERT_TRUE(worker->start());
    ASSERT_TRUE(waitUntil([&] { return worker->inside.load(); }));
    worker->stop(20);
    ASSERT_FALSE(worker->isRunning()) << "the stop gave up";
    WorkerThread::destroyWhenEnded(std::move(worker));
    // Under the sanitizers, an object freed here is a use after free below.
    EXPECT_FALSE(waitUntil([&] { return destroyed.load(); }, std::chrono::milliseconds(100)));
    release = true;
    EXPECT_TRUE(waitUntil([&] { return destroyed.load(); }));
}

TEST(WorkerThreadTest, AnObjectWhoseBodyEndedIsDestroyedAtOnce)
{
    std::atomic<bool> release{true};
    std::atomic<bool> destroyed{false};
    auto worker = std::make_unique<BlockedWorker>(release, destroyed);
    ASSERT_TRUE(worker->start());
    worker->stop(WorkerThread::StopTimeoutMs);
    WorkerThread::destroyWhenEnded(std::move(worker));
    EXPECT_TRUE(destroyed.load());
    WorkerThread::destroyWhenEnded(nullptr);
}

} // namespace
} // namespace vantrel
