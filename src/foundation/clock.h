// Millisecond tick count and plain pauses. The tick count is a monotonic
// clock cut to 32 bits, so it wraps after about 49.7 days; every user
// compares ticks by unsigned subtraction.
#pragma once

#include <cstdint>

namespace vantrel {

std::uint32_t tickCount();

// Moves the tick count of the whole process forward: the seam through
// which tests let a minute pass at once. The program never calls it.
void advanceTickCount(std::uint32_t milliseconds);

// Sleeps the calling thread; for code that owns no stop event.
void sleepMs(std::uint32_t milliseconds);

} // namespace vantrel
