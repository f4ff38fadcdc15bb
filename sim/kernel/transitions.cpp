// Live patch transitions of the simulated kernel.
#include "transitions.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "history.h"
#include "kernel_state.h"
#include "module_table.h"
#include "names.h"

namespace lkpsim {

namespace {

std::uint64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
           static_cast<std::uint64_t>(now.tv_nsec);
}

bool released(const Task &task) {
    const std::uint64_t at = task.release_at_ns.get();
    return task.released != 0 || (at != 0 && monotonic_ns() >= at);
}

bool all_released(const Transition &transition) {
    for (std::size_t i = 0; i < transition.task_count.get(); ++i) {
        if (!released(transition.tasks[i])) {
            return false;
        }
    }
    return true;
}

bool finished(const Transition &transition) {
    switch (transition.mode) {
        case TRANSITION_AFTER_SIGNAL:
            return transition.signalled != 0;
        case TRANSITION_UNTIL_RELEASED:
            return all_released(transition);
        default:
            return true;
    }
}

// Upstream, an unpatched patch is freed at the end of its transition and
// its directory goes with it.
void end_transition(Kernel *kernel) {
    Transition &transition = kernel->transition;
    Module *module = find_module(kernel, name_of(transition.patch));
    if (module != nullptr && transition.target == 0 && kernel->enable_on_insert != 0) {
        module->hidden = 1;
    }
    set_name(&transition.patch, "");
    transition.signalled = 0;
}

}  // namespace

std::string_view patch_in_transition(Kernel *kernel) {
    Transition &transition = kernel->transition;
    if (!name_of(transition.patch).empty() && finished(transition)) {
        end_transition(kernel);
    }
    return name_of(transition.patch);
}

int transition_refusal(Kernel *kernel, std::string_view patch, int target) {
    const std::string_view current = patch_in_transition(kernel);
    if (current.empty()) {
        return 0;
    }
    if (current != patch) {
        return EBUSY;
    }
    return kernel->transition.target == target ? EINVAL : 0;
}

int start_transition(Kernel *kernel, std::string_view patch, int target) {
    const int refusal = transition_refusal(kernel, patch, target);
    if (refusal != 0) {
        return refusal;
    }
    Transition &transition = kernel->transition;
    if (!patch_in_transition(kernel).empty()) {
        // Reversed: the tasks that had switched go back; those that had not
        // are where the reversal leads, so nothing is left to wait for.
        transition.target = static_cast<std::uint8_t>(target);
        end_transition(kernel);
        return 0;
    }
    if (transition.mode == TRANSITION_INSTANT) {
        transition.target = static_cast<std::uint8_t>(target);
        set_name(&transition.patch, patch);
        end_transition(kernel);
        return 0;
    }
    set_name(&transition.patch, patch);
    transition.target = static_cast<std::uint8_t>(target);
    transition.signalled = 0;
    return 0;
}

std::string transition_text(Kernel *kernel, std::string_view patch) {
    return patch_in_transition(kernel) == patch ? "1\n" : "0\n";
}

int judge_signal_text(Kernel *kernel, std::string_view patch, std::string_view text) {
    const bool accepted = without_newline(text) == "1" && patch_in_transition(kernel) == patch;
    if (accepted) {
        kernel->transition.signalled = 1;
    }
    append_history(
        kernel, (accepted ? "signal " : "signal! ") + std::string(patch) + " " + as_written(text));
    return accepted ? 0 : EINVAL;
}

const Task *find_task(const Kernel &kernel, int pid) {
    const Transition &transition = kernel.transition;
    for (std::size_t i = 0; i < transition.task_count.get(); ++i) {
        if (transition.tasks[i].pid.get() == pid) {
            return &transition.tasks[i];
        }
    }
    return nullptr;
}

std::string task_patch_state_text(Kernel *kernel, const Task &task) {
    if (patch_in_transition(kernel).empty()) {
        return "-1\n";
    }
    const int target = kernel->transition.target;
    // A signal wakes every task, so each can switch.
    const bool switched = kernel->transition.mode == TRANSITION_AFTER_SIGNAL
                              ? kernel->transition.signalled != 0
                              : released(task);
    return std::to_string(switched ? target : 1 - target) + "\n";
}

void reset_transitions(Kernel *kernel) {
    std::memset(&kernel->transition, 0, sizeof kernel->transition);
}

}  // namespace lkpsim
