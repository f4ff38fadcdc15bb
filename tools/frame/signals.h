// The termination signals an operator sends (SIGINT from Ctrl-C, SIGTERM,
// SIGHUP): deferred while the library changes the kernel, so that a call
// and its rollback always finish; caught during pack, so that it stops
// between steps and removes its staging directory.
#ifndef LKPCTL_SIGNALS_H
#define LKPCTL_SIGNALS_H

#include <signal.h>

namespace lkpctl {

// Blocks the termination signals for its lifetime. The block is inherited by
// the library's children (tar, rm), so a Ctrl-C reaching the whole process
// group cannot kill them half-way either.
class DeferredSignals {
public:
    DeferredSignals() noexcept;
    DeferredSignals(const DeferredSignals &) = delete;
    DeferredSignals &operator=(const DeferredSignals &) = delete;
    ~DeferredSignals();  // unblocks them; take() those pending first

    // The first termination signal that arrived meanwhile (consumed with all
    // others pending), or 0.
    int take() noexcept;

private:
    sigset_t previous_{};
};

// Records the first termination signal while it lives, instead of dying.
class CaughtSignals {
public:
    CaughtSignals() noexcept;
    CaughtSignals(const CaughtSignals &) = delete;
    CaughtSignals &operator=(const CaughtSignals &) = delete;
    ~CaughtSignals();  // restores the previous actions

    // The first signal caught since the start, or 0. Usable anywhere.
    static int caught() noexcept;

private:
    struct sigaction previous_[3]{};
};

// True when a termination signal is pending (blocked, not yet taken): a
// command made of several steps stops before the next one.
bool termination_pending() noexcept;

// "SIGINT" for SIGINT, and so on.
const char *signal_name(int signal_number);
// The exit status after a signal: 128 + its number (130, 143, 129).
int signal_exit_status(int signal_number);

}  // namespace lkpctl

#endif
