// The monotonic clock and a sleep, from the C library alone: the library's
// waits must not pull in the C++ runtime, which a device image may lack.
#ifndef TESVAR_SYS_MONOTONIC_CLOCK_H
#define TESVAR_SYS_MONOTONIC_CLOCK_H

#include <cstdint>

namespace tesvar {

// Milliseconds on CLOCK_MONOTONIC (never goes back, ignores date changes).
int64_t monotonic_ms() noexcept;

// Sleeps ms milliseconds; a signal handler that interrupts it does not
// shorten it.
void sleep_ms(int64_t ms) noexcept;

}  // namespace tesvar

#endif
