// Waiting for the kernel's live patching to be quiet. An upstream kernel runs
// one transition at a time and answers a module insertion, a module removal
// or an "enabled" write made meanwhile with EBUSY, and a removal of a patch
// module it is still freeing with EAGAIN. Each such step is preceded by a
// wait until no patch is in transition, and a busy answer is tried again,
// all within the call's wait bound (sys/wait_budget.h).
#ifndef TESVAR_KERNEL_TRANSITION_WAIT_H
#define TESVAR_KERNEL_TRANSITION_WAIT_H

#include <cerrno>
#include <cstdint>

#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "sys/wait_budget.h"

namespace tesvar {

// True when the patch's livepatch "enabled" file reads "1". Logs nothing.
bool is_patch_enabled(const char *patch_name);

// True when the patch's livepatch directory exists.
bool has_livepatch_dir(const char *patch_name);

// True, with its name in `name`, when a patch's "transition" file reads "1";
// the patch named `except` (when not null) does not count.
bool find_patch_in_transition(char (&name)[NAME_SIZE], const char *except = nullptr);

// Waits until no patch (but `except`) is in transition; false when the
// deadline came first.
bool wait_until_quiet(Backoff &backoff, const char *except = nullptr);

// The same, but no patch of the list `own` counts: a package's switch
// writes to its own patches even in transition (the kernel reverses a
// transition at once), so only other patches' transitions are waited for.
bool wait_until_others_quiet(Backoff &backoff, list_head *own);

// The kernel's "not now": EBUSY or EAGAIN.
inline bool is_busy_answer(int32_t result) {
    return result == -EBUSY || result == -EAGAIN;
}

// The one line that says the wait bound was hit: it names the patch still
// in transition, or `subject` when none is and the kernel still says busy.
void log_wait_gave_up(const char *subject);

// Runs `attempt` (which returns 0 or a negated errno) after waiting for
// quiet, and again while it answers busy, until the deadline; then logs the
// bound line. It is always tried at least once. Its last answer. With
// `own_transition`, a transition of `subject` itself is not waited for (an
// enabled write to the patch in transition reverses it at once).
template <typename Attempt>
int32_t retry_while_busy(const char *subject, Attempt attempt, bool own_transition = false) {
    Backoff backoff;
    for (;;) {
        (void)wait_until_quiet(backoff, own_transition ? subject : nullptr);
        const int32_t result = attempt();
        if (!is_busy_answer(result)) {
            return result;
        }
        if (!backoff.pause()) {
            log_wait_gave_up(subject);
            return result;
        }
    }
}

}  // namespace tesvar

#endif
