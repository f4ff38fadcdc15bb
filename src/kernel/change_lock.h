// One change of the kernel's files as other callers of the library see it:
// the kernel-files lock held exclusive, taken once no live patch is in
// transition. The long wait (a transition) thus happens before the lock; the
// lock is held through a wait only when the kernel turns busy again
// meanwhile, or between the patches of one package's switch.
#ifndef TESVAR_KERNEL_CHANGE_LOCK_H
#define TESVAR_KERNEL_CHANGE_LOCK_H

#include "kernel/transition_wait.h"
#include "sys/kernel_files_lock.h"
#include "sys/wait_budget.h"

namespace tesvar {

class ChangeLock {
public:
    ChangeLock() noexcept : quiet_(wait_quiet()), lock_(KernelFilesLock::Mode::Exclusive) {}
    // A switch of the patches in `own`: their own transitions are not
    // waited for (writing to a patch in transition reverses it at once).
    explicit ChangeLock(list_head *own) noexcept
        : quiet_(wait_others_quiet(own)), lock_(KernelFilesLock::Mode::Exclusive) {}
    ChangeLock(const ChangeLock &) = delete;
    ChangeLock &operator=(const ChangeLock &) = delete;
    ~ChangeLock() = default;

    // True when another caller held the lock past the wait bound (logged).
    bool timed_out() const noexcept { return lock_.timed_out(); }

private:
    static bool wait_quiet() noexcept {
        Backoff backoff;
        return wait_until_quiet(backoff);
    }
    static bool wait_others_quiet(list_head *own) noexcept {
        Backoff backoff;
        return wait_until_others_quiet(backoff, own);
    }

    bool quiet_;
    KernelFilesLock lock_;
};

}  // namespace tesvar

#endif
