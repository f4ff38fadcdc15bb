// Live patch transitions: after an enable switch changes, each task moves to
// the new code on its own, and the patch's "transition" file says 1 until
// all have. Callers hold the kernel lock.
#ifndef LKPSIM_TRANSITIONS_H
#define LKPSIM_TRANSITIONS_H

#include <string>
#include <string_view>

#include "kernel_layout.h"

namespace lkpsim {

// Stored in Transition::mode; the public TransitionScene has the same order.
enum TransitionMode : std::uint8_t {
    TRANSITION_INSTANT = 0,
    TRANSITION_AFTER_SIGNAL = 1,
    TRANSITION_UNTIL_RELEASED = 2,
};

// The patch now in transition ("" when none), after settling a transition
// whose end has come.
std::string_view patch_in_transition(Kernel *kernel);

// An accepted switch of patch to target (1 or 0) starts a transition, or
// reverses the one under way when patch is in transition the other way.
// 0, or EBUSY while another patch is in transition.
int start_transition(Kernel *kernel, std::string_view patch, int target);
// Whether the switch to target is refused because of a transition: EBUSY
// while another patch is in transition, EINVAL when patch is already
// heading for target; else 0.
int transition_refusal(Kernel *kernel, std::string_view patch, int target);

// "1\n" while patch is in transition, else "0\n".
std::string transition_text(Kernel *kernel, std::string_view patch);
// A write to patch's signal file: 0, or EINVAL when it is not in transition.
int judge_signal_text(Kernel *kernel, std::string_view patch, std::string_view text);

// The simulated task with this pid, or nullptr.
const Task *find_task(const Kernel &kernel, int pid);
// A task's patch_state text: "-1\n" outside a transition, else the state it
// is still in ("0\n" or "1\n") or the target once it has switched.
std::string task_patch_state_text(Kernel *kernel, const Task &task);

void reset_transitions(Kernel *kernel);

}  // namespace lkpsim

#endif
