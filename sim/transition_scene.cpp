// The lkpsim API for transitions: arranging how they end and the tasks
// they wait for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kernel_state.h"
#include "lkpsim/lkpsim.h"
#include "transitions.h"

namespace lkpsim {

namespace {

[[noreturn]] void die(const std::string &why) {
    std::fprintf(stderr, "lkpsim: %s\n", why.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

Kernel *kernel() {
    Kernel *kernel = shared_kernel();
    if (kernel == nullptr) {
        die("lkpsim::enter() or attach() has not run in this process");
    }
    return kernel;
}

Task *task_of(Kernel *kernel, int pid) {
    Task *task = const_cast<Task *>(find_task(*kernel, pid));
    if (task == nullptr) {
        die("no simulated task " + std::to_string(pid));
    }
    return task;
}

std::uint64_t monotonic_ns_after(int milliseconds) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000U +
           static_cast<std::uint64_t>(now.tv_nsec) +
           static_cast<std::uint64_t>(milliseconds) * 1000000U;
}

}  // namespace

void set_transition_scene(TransitionScene scene) {
    Kernel *k = kernel();
    KernelLock lock(k);
    k->transition.mode = static_cast<std::uint8_t>(scene);
}

void set_transition_time(int milliseconds) {
    Kernel *k = kernel();
    KernelLock lock(k);
    k->transition.mode = TRANSITION_TIMED;
    k->transition_ms.set(static_cast<std::uint32_t>(milliseconds < 0 ? 0 : milliseconds));
}

void add_task(int pid, const std::string &comm, const std::string &stack) {
    Kernel *k = kernel();
    KernelLock lock(k);
    Transition &transition = k->transition;
    if (pid <= 0 || transition.task_count.get() >= MAX_TASKS || find_task(*k, pid) != nullptr ||
        stack.size() >= STACK_TEXT_SIZE) {
        die("cannot add simulated task " + std::to_string(pid));
    }
    Task &task = transition.tasks[transition.task_count.add(1)];
    std::memset(&task, 0, sizeof task);
    task.pid.set(pid);
    if (!set_name(&task.comm, comm)) {
        die("task name too long: " + comm);
    }
    std::memcpy(task.stack, stack.data(), stack.size());
}

void release_task(int pid) {
    Kernel *k = kernel();
    KernelLock lock(k);
    task_of(k, pid)->released = 1;
}

void release_task_after(int pid, int milliseconds) {
    Kernel *k = kernel();
    KernelLock lock(k);
    task_of(k, pid)->release_at_ns.set(monotonic_ns_after(milliseconds));
}

std::string patch_in_transition() {
    Kernel *k = kernel();
    KernelLock lock(k);
    return std::string(lkpsim::patch_in_transition(k));
}

}  // namespace lkpsim
