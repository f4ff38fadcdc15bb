// The transition suite of the guest: a kernel thread of lkp_sleeper sleeps
// inside the function lkp_sleeper_fix replaces, so the patch's transition
// really stalls until the thread is let go.
#pragma once

namespace guest {

// Runs the suite's cases, each round of the stall and the release
// `repeats` times (the guest boots with two vCPUs for it).
void run_transition_cases(int repeats);

}  // namespace guest
