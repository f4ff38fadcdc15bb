// The per-call wait bound. The deadline lives in thread-local storage for
// the length of one exported call only (the library keeps nothing between
// calls); initial-exec TLS needs nothing beyond the C library.
#include "sys/wait_budget.h"

#include <cstdlib>

#include "sys/monotonic_clock.h"

namespace tesvar {

namespace {

constexpr int64_t MS_PER_S = 1000;
constexpr int64_t LONGEST_PAUSE_MS = 50;
constexpr int DECIMAL = 10;

__thread int call_depth __attribute__((tls_model("initial-exec"))) = 0;
__thread int64_t call_deadline_ms __attribute__((tls_model("initial-exec"))) = 0;

int64_t deadline_from_now() noexcept {
    return monotonic_ms() + static_cast<int64_t>(wait_bound_seconds()) * MS_PER_S;
}

}  // namespace

int parse_wait_seconds(const char *text) noexcept {
    if (text == nullptr || *text == '\0') {
        return DEFAULT_WAIT_SECONDS;
    }
    int64_t seconds = 0;
    for (const char *digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return DEFAULT_WAIT_SECONDS;
        }
        // Held at the limit as soon as it passes it, so no number overflows.
        seconds = seconds * DECIMAL + (*digit - '0');
        if (seconds > LONGEST_WAIT_SECONDS) {
            seconds = LONGEST_WAIT_SECONDS + 1;
        }
    }
    return seconds > LONGEST_WAIT_SECONDS ? LONGEST_WAIT_SECONDS : static_cast<int>(seconds);
}

int wait_bound_seconds() noexcept {
    return parse_wait_seconds(secure_getenv(WAIT_SECONDS_VARIABLE));
}

CallBudget::CallBudget() noexcept {
    if (call_depth++ == 0) {
        call_deadline_ms = deadline_from_now();
    }
}

CallBudget::~CallBudget() { --call_depth; }

int64_t wait_deadline_ms() noexcept {
    return call_depth > 0 ? call_deadline_ms : deadline_from_now();
}

Backoff::Backoff() noexcept : deadline_ms_(wait_deadline_ms()) {}

bool Backoff::spent() const noexcept { return monotonic_ms() >= deadline_ms_; }

bool Backoff::pause() noexcept {
    const int64_t left = deadline_ms_ - monotonic_ms();
    if (left <= 0) {
        return false;
    }
    sleep_ms(next_ms_ < left ? next_ms_ : left);
    next_ms_ = next_ms_ * 2 < LONGEST_PAUSE_MS ? next_ms_ * 2 : LONGEST_PAUSE_MS;
    return true;
}

}  // namespace tesvar
