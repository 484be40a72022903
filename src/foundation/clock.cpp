// The tick count over the monotonic clock and the plain pause.
#include "foundation/clock.h"

#include <chrono>
#include <thread>

namespace vantrel {

std::uint32_t tickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    // Cut to 32 bits on purpose: callers compare by unsigned subtraction.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void sleepMs(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace vantrel
