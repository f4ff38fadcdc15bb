// An advisory lock that makes each change of the kernel's files by the
// library one step for every other caller of the library: a change (a module
// insertion and its "add" line, a removal and its "rm" line, a package's
// switch) holds it exclusive from start to end; a reading of the control
// file and the state file holds it shared while it opens both. Waiting for
// it is bounded by the call's wait bound (sys/wait_budget.h); changes made
// without the library are caught by reading again.
#ifndef TESVAR_SYS_KERNEL_FILES_LOCK_H
#define TESVAR_SYS_KERNEL_FILES_LOCK_H

#include "sys/owned.h"

namespace tesvar {

// The lock file; made on first use. Without it (a read-only /run, a caller
// without the right to open it) the library goes on unlocked.
constexpr const char *KERNEL_FILES_LOCK = "/run/tesvar-kernel-files.lock";

class KernelFilesLock {
public:
    enum class Mode { Shared, Exclusive };

    // Takes the lock, waiting at most until the call's deadline; a thread
    // that already holds it (a reading inside its own change) takes nothing
    // more. When the wait gives up, it logs which lock is held and
    // timed_out() says so.
    explicit KernelFilesLock(Mode mode) noexcept;
    KernelFilesLock(const KernelFilesLock &) = delete;
    KernelFilesLock &operator=(const KernelFilesLock &) = delete;
    ~KernelFilesLock() { release(); }

    // True when another caller held the lock for longer than the bound.
    bool timed_out() const noexcept { return timed_out_; }
    // Lets go (closing the descriptor releases the flock).
    void release() noexcept;

private:
    Fd file_;
    bool counted_ = false;
    bool timed_out_ = false;
};

}  // namespace tesvar

#endif
