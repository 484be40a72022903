// The tick count over the monotonic clock, the tests' shift of it, and the
// plain pause.
#include "foundation/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace vantrel {

namespace {

// Zero in the program. Atomic, so that a test's shift is no data race with
// the sessions that read the clock.
std::atomic<std::uint32_t> testShiftMs{0};

} // namespace

std::uint32_t tickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    // Cut to 32 bits on purpose: callers compare by unsigned subtraction.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms)) + testShiftMs.load(std::memory_order_relaxed);
}

void advanceTickCount(std::uint32_t milliseconds)
{
    testShiftMs.fetch_add(milliseconds, std::memory_order_relaxed);
}

void sleepMs(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace vantrel
