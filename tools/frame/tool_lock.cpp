// Taking the tool's lock.
#include "tool_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "lock_holder.h"

namespace lkpctl {
namespace {

constexpr mode_t LOCK_FILE_MODE = 0600;
constexpr auto QUIET_WAIT = std::chrono::seconds(1);
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(20);
// Once the wait is said, a slower pace: each round reads /proc/locks.
constexpr auto LONG_POLL_INTERVAL = std::chrono::milliseconds(100);

const char *const CHANGING_COMMANDS[] = {"load",       "preload",   "validate", "activate",
                                         "deactivate", "remove",    "insmod",   "rmmod",
                                         "install",    "uninstall", "boot",     "repair"};

// flock retried on EINTR: 0, or the errno.
int lock_file(int fd, int operation) {
    while (flock(fd, operation) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// What the tool says when the lock's holder is stopped.
std::string stopped_holder_text(pid_t holder) {
    const std::string pid = std::to_string(holder);
    std::string text = "the process holding the lock ";
    text.append(TOOL_LOCK_PATH).append(" (pid ").append(pid);
    text.append(") is stopped: resume it (kill -CONT ").append(pid);
    text.append(") or end it, then run this again");
    return text;
}

}  // namespace

bool changes_kernel(const std::string &command) {
    for (const char *name : CHANGING_COMMANDS) {
        if (command == name) {
            return true;
        }
    }
    return false;
}

StepResult ToolLock::acquire(bool no_wait) {
    // O_NONBLOCK: a FIFO in its place must not hold the tool up.
    file_ = tesvar::Fd(open(TOOL_LOCK_PATH, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                            LOCK_FILE_MODE));
    const int error = file_.valid() ? 0 : errno;
    struct stat status {};
    const bool regular =
        file_.valid() && fstat(file_.get(), &status) == 0 && S_ISREG(status.st_mode);
    if (!regular && (file_.valid() || error == ELOOP || error == EISDIR || error == ENXIO)) {
        // Something else in its place would silently turn serialisation off.
        file_.close();
        return step_failed(-ENOLCK, std::string(TOOL_LOCK_PATH) +
                                        " is not a regular file (a directory, link, FIFO or "
                                        "other special file): nothing is changed until it is "
                                        "removed");
    }
    if (!file_.valid()) {
        // No /run (a minimal system) or no right to it: like the library,
        // go on unlocked rather than refuse to work.
        return {};
    }
    return wait_for(no_wait);
}

StepResult ToolLock::wait_for(bool no_wait) {
    const auto quiet_until = std::chrono::steady_clock::now() + QUIET_WAIT;
    bool said = false;
    for (;;) {
        const int error = lock_file(file_.get(), LOCK_EX | LOCK_NB);
        if (error == 0) {
            return {};
        }
        if (error != EWOULDBLOCK) {
            return errno_failure(std::string("cannot lock ") + TOOL_LOCK_PATH, error);
        }
        if (no_wait) {
            return step_failed(-EWOULDBLOCK, std::string("another lkpctl is changing the kernel's "
                                                         "patches (lock ") +
                                                 TOOL_LOCK_PATH +
                                                 " held); not waiting (--no-wait)");
        }
        // A stopped holder never lets go by itself: waiting would never end.
        const pid_t holder = flock_holder(file_.get());
        if (holder > 0 && stopped_by_job_control(holder)) {
            return step_failed(-EWOULDBLOCK, stopped_holder_text(holder));
        }
        if (!said && std::chrono::steady_clock::now() >= quiet_until) {
            (void)std::fprintf(stderr,
                               "lkpctl: waiting for another lkpctl to finish (lock %s)...\n",
                               TOOL_LOCK_PATH);
            said = true;
        }
        std::this_thread::sleep_for(said ? LONG_POLL_INTERVAL : POLL_INTERVAL);
    }
}

}  // namespace lkpctl
