// The kernel-files lock: an open file description lock, so that threads of
// one process exclude each other as other processes do, and closing the
// descriptor (on every path, or at the caller's exit) releases it.
#include "sys/kernel_files_lock.h"

#include <fcntl.h>

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
    struct flock range {};
    range.l_type = mode == Mode::Shared ? F_RDLCK : F_WRLCK;
    range.l_whence = SEEK_SET;
    while (fcntl(file_.get(), F_OFD_SETLKW, &range) != 0) {
        if (errno != EINTR) {
            file_.close();
            return;
        }
    }
}

}  // namespace tesvar
