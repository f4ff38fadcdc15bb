// Waiting for live patch transitions: after a patch is enabled or disabled,
// each task of the kernel switches to the new code when it is safe to, and
// the patch's "transition" file under /sys/kernel/livepatch/<patch>/ stays
// 1 until every task has. This watches those files, wakes stalled tasks
// through the "signal" file after a grace period and names the tasks that
// still hold a transition up. It never writes the "force" file: forcing
// skips the consistency model a patch's correctness depends on.
#ifndef LKPCTL_TRANSITION_WAIT_H
#define LKPCTL_TRANSITION_WAIT_H

#include <functional>
#include <string>
#include <vector>

namespace lkpctl {

// A task (thread) not yet switched to the state a transition heads for.
struct UnpatchedTask {
    int pid = 0;
    int tid = 0;
    std::string comm;                // "" when unreadable
    int patch_state = -1;            // 0 unpatched, 1 patched
    std::vector<std::string> stack;  // kernel stack lines; empty when unreadable
};

struct TransitionWaitLimits {
    double timeout_seconds = 60.0;
    double grace_seconds = 5.0;  // before the stalled patches are signalled
};

// What a wait saw. Times in milliseconds since the wait began.
struct TransitionReport {
    bool completed = false;
    bool interrupted = false;  // ended early by a pending termination signal
    long waited_ms = 0;
    std::vector<std::string> stalled;          // patches still in transition at the end
    std::vector<std::string> signalled;        // patches whose signal file was written
    std::vector<std::string> signal_failures;  // "patch: why" for each signal not sent
    std::vector<UnpatchedTask> tasks;          // unpatched tasks, as last looked at
};

// One step of a wait worth telling a person about.
struct TransitionEvent {
    enum Kind { Progress, Signalled, Named } kind = Progress;
    long elapsed_ms = 0;
    std::vector<std::string> in_transition;  // Progress: patches still in transition
    std::string patch;                       // Signalled
    std::string problem;                     // Signalled: why it could not be, or ""
    std::vector<UnpatchedTask> tasks;        // Named
};
using TransitionObserver = std::function<void(const TransitionEvent &)>;

// True when the patch's transition file reads 1.
bool patch_in_transition(const std::string &patch);

// The tasks whose /proc/<pid>/task/<tid>/patch_state is a transition state
// other than target (1 when patching, 0 when unpatching).
std::vector<UnpatchedTask> unpatched_tasks(int target);

// The state a patch's transition heads for: its "enabled" file (1 or 0).
int transition_target(const std::string &patch);

// The delay before the next look, given the previous one: it starts at a
// millisecond and doubles up to a cap well under a second.
long next_poll_ms(long previous_ms);

// Waits until none of the patches is in transition, the timeout, or a
// pending (blocked) SIGINT, SIGTERM or SIGHUP.
TransitionReport wait_for_transitions(const std::vector<std::string> &patches,
                                      const TransitionWaitLimits &limits,
                                      const TransitionObserver &observe);

}  // namespace lkpctl

#endif
