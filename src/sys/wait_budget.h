// How long one exported call may wait for the kernel (transitions, busy
// answers) and for the kernel-files lock, all waits of the call together.
// The bound is 60 s; the environment variable TESVAR_WAIT_SECONDS changes
// it for a process without an interface change.
#ifndef TESVAR_SYS_WAIT_BUDGET_H
#define TESVAR_SYS_WAIT_BUDGET_H

#include <cstdint>

namespace tesvar {

constexpr const char *WAIT_SECONDS_VARIABLE = "TESVAR_WAIT_SECONDS";
constexpr int DEFAULT_WAIT_SECONDS = 60;
constexpr int LONGEST_WAIT_SECONDS = 3600;

// The bound for a text from the environment: a plain decimal number of
// seconds (0 means "try each step once, never wait"); anything else (empty,
// signed, not a number, trailing characters) gives the default, and a number
// above LONGEST_WAIT_SECONDS is held there.
int parse_wait_seconds(const char *text) noexcept;

// The bound now in force, read from the environment (secure_getenv) at the
// start of each exported call.
int wait_bound_seconds() noexcept;

// Marks one exported call: the outermost on a thread starts the call's clock;
// one exported operation calling another shares its caller's deadline.
class CallBudget {
public:
    CallBudget() noexcept;
    CallBudget(const CallBudget &) = delete;
    CallBudget &operator=(const CallBudget &) = delete;
    ~CallBudget();
};

// The monotonic time (ms) after which the running call waits no more. Outside
// any call (an internal function used directly), the bound from now.
int64_t wait_deadline_ms() noexcept;

// Pauses between two looks at something the call waits for: 1 ms first,
// doubling up to 50 ms, never past the call's deadline (taken when the
// Backoff is made).
class Backoff {
public:
    Backoff() noexcept;

    // True once the deadline has passed.
    bool spent() const noexcept;
    // Sleeps the next pause; false (without sleeping) when the deadline has
    // passed.
    bool pause() noexcept;

private:
    int64_t deadline_ms_;
    int64_t next_ms_ = 1;
};

}  // namespace tesvar

#endif
