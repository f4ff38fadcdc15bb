// The shared kernel block's lock: a thread mutex inside the process, and an
// open file description lock on the block's file between processes. A
// process-shared pthread mutex would not do: its size and layout differ
// between architectures, and an emulated process shares the block with the
// native file server.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "kernel_state.h"
#include "lkpsim/lkpsim.h"
#include "sys/owned_fd.h"

namespace lkpsim {

using tesvar::Fd;

namespace {

std::mutex g_thread_lock;
Fd g_lock_file;
pid_t g_lock_owner = 0;

// This process's own description of the block's file: a forked child shares
// its parent's description, and with it the parent's lock, so it opens its own.
int lock_file() {
    if (g_lock_owner != getpid()) {
        g_lock_file.reset(open(KERNEL_STATE_FILE, O_RDWR | O_CLOEXEC));
        g_lock_owner = getpid();
    }
    return g_lock_file.get();
}

void lock_whole_file(int fd, short type) {
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;  // start 0, length 0: the whole file
    while (fcntl(fd, F_OFD_SETLKW, &whole) != 0 && errno == EINTR) {
    }
}

}  // namespace

void open_kernel_lock() {
    const std::lock_guard<std::mutex> guard(g_thread_lock);
    lock_file();
}

KernelLock::KernelLock(const Kernel * /*kernel*/) {
    g_thread_lock.lock();
    lock_whole_file(lock_file(), F_WRLCK);
}

KernelLock::~KernelLock() {
    lock_whole_file(lock_file(), F_UNLCK);
    g_thread_lock.unlock();
}

bool kernel_lock_free() {
    const Fd probe(open(KERNEL_STATE_FILE, O_RDWR | O_CLOEXEC));
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return probe.valid() && fcntl(probe.get(), F_OFD_GETLK, &whole) == 0 && whole.l_type == F_UNLCK;
}

}  // namespace lkpsim
