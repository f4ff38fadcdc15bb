// An advisory lock that keeps the library's own changes of the control file
// out of a reading of the control file and the state file: a reading holds
// it shared while it opens both, a control-file op line holds it exclusive.
// It serializes the library's callers in every process, each for moments
// only; changes made without the library are caught by reading again.
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

    explicit KernelFilesLock(Mode mode) noexcept;
    KernelFilesLock(const KernelFilesLock &) = delete;
    KernelFilesLock &operator=(const KernelFilesLock &) = delete;
    // Closing the descriptor releases the lock.
    ~KernelFilesLock() = default;

    void release() noexcept { file_.close(); }

private:
    Fd file_;
};

}  // namespace tesvar

#endif
