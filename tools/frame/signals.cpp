// Deferring and catching the termination signals.
#include "signals.h"

#include <ctime>

namespace lkpctl {
namespace {

constexpr int TERMINATION_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int SIGNAL_EXIT_BASE = 128;

volatile sig_atomic_t g_caught = 0;

sigset_t termination_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : TERMINATION_SIGNALS) {
        sigaddset(&set, signal_number);
    }
    return set;
}

void record(int signal_number) {
    if (g_caught == 0) {
        g_caught = signal_number;
    }
}

}  // namespace

DeferredSignals::DeferredSignals() noexcept {
    const sigset_t set = termination_set();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

DeferredSignals::~DeferredSignals() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int DeferredSignals::take() noexcept {
    const sigset_t set = termination_set();
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    int first = 0;
    for (const int signal_number : TERMINATION_SIGNALS) {
        if (sigismember(&pending, signal_number) == 1 && first == 0) {
            first = signal_number;
        }
    }
    // Consume them, so that unblocking does not act on them.
    const timespec no_wait{0, 0};
    while (sigtimedwait(&set, nullptr, &no_wait) > 0) {
    }
    return first;
}

CaughtSignals::CaughtSignals() noexcept {
    struct sigaction action {};
    action.sa_handler = record;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait for a child returns early, so it can be stopped.
    action.sa_flags = 0;
    for (int i = 0; i < 3; ++i) {
        sigaction(TERMINATION_SIGNALS[i], &action, &previous_[i]);
    }
}

CaughtSignals::~CaughtSignals() {
    for (int i = 0; i < 3; ++i) {
        sigaction(TERMINATION_SIGNALS[i], &previous_[i], nullptr);
    }
}

int CaughtSignals::caught() noexcept {
    return g_caught;
}

bool termination_pending() noexcept {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) {
        return false;
    }
    for (const int signal_number : TERMINATION_SIGNALS) {
        if (sigismember(&pending, signal_number) == 1) {
            return true;
        }
    }
    return false;
}

const char *signal_name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

int signal_exit_status(int signal_number) {
    return SIGNAL_EXIT_BASE + signal_number;
}

}  // namespace lkpctl
