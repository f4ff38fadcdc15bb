// The monotonic clock and a sleep on clock_gettime and clock_nanosleep.
#include "sys/monotonic_clock.h"

#include <time.h>

#include <cerrno>

namespace tesvar {

namespace {

constexpr int64_t MS_PER_S = 1000;
constexpr int64_t NS_PER_MS = 1000000;

}  // namespace

int64_t monotonic_ms() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * MS_PER_S + now.tv_nsec / NS_PER_MS;
}

void sleep_ms(int64_t ms) noexcept {
    timespec left{};
    left.tv_sec = static_cast<time_t>(ms / MS_PER_S);
    left.tv_nsec = static_cast<long>((ms % MS_PER_S) * NS_PER_MS);
    // clock_nanosleep returns the error number and leaves what is left of a
    // relative sleep in its last argument.
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
}

}  // namespace tesvar
