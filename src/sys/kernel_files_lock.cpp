// The kernel-files lock: flock, whose locks belong to the open file
// description, so that threads of one process (each opening the file
// itself) exclude each other as other processes do, and closing the
// descriptor (on every path, or at the caller's exit) releases it. flock
// rather than fcntl's OFD locks, which valgrind does not know may block.
// It is asked for without blocking and asked again after growing pauses, so
// a holder that never lets go costs a caller its wait bound, never a hang,
// and no signal can turn the wait into one.
#include "sys/kernel_files_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "frame/log.h"
#include "sys/wait_budget.h"

namespace tesvar {

namespace {

constexpr mode_t LOCK_FILE_MODE = 0600;

// How many locks the thread holds now, outermost included: a reading inside
// the thread's own change must not wait for itself.
__thread int locks_held __attribute__((tls_model("initial-exec"))) = 0;

// The lock file, unless the thread holds the lock already.
int open_unless_held() noexcept {
    if (locks_held > 0) {
        return -1;
    }
    return open(KERNEL_FILES_LOCK, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LOCK_FILE_MODE);
}

}  // namespace

KernelFilesLock::KernelFilesLock(Mode mode) noexcept : file_(open_unless_held()) {
    if (locks_held > 0) {
        ++locks_held;
        counted_ = true;
        return;
    }
    if (!file_.valid()) {
        return;
    }
    const int operation = (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    Backoff backoff;
    while (flock(file_.get(), operation) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            file_.close();
            return;
        }
        if (!backoff.pause()) {
            file_.close();
            timed_out_ = true;
            lkp_log(LKP_ERR, "Gave up waiting after %d s: %s is held by another caller.",
                    wait_bound_seconds(), KERNEL_FILES_LOCK);
            return;
        }
    }
    ++locks_held;
    counted_ = true;
}

void KernelFilesLock::release() noexcept {
    if (counted_) {
        counted_ = false;
        --locks_held;
    }
    file_.close();
}

}  // namespace tesvar
