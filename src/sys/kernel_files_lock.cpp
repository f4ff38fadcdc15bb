// The kernel-files lock: flock, whose locks belong to the open file
// description, so that threads of one process (each opening the file
// itself) exclude each other as other processes do, and closing the
// descriptor (on every path, or at the caller's exit) releases it. flock
// rather than fcntl's OFD locks, which valgrind does not know may block.
#include "sys/kernel_files_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace tesvar {

namespace {

constexpr mode_t LOCK_FILE_MODE = 0600;

}  // namespace

KernelFilesLock::KernelFilesLock(Mode mode) noexcept
    : file_(open(KERNEL_FILES_LOCK, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LOCK_FILE_MODE)) {
    if (!file_.valid()) {
        return;
    }
    const int operation = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
    while (flock(file_.get(), operation) != 0) {
        if (errno != EINTR) {
            file_.close();
            return;
        }
    }
}

}  // namespace tesvar
