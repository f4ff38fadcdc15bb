// The process runner.
//
// Why not fork() and waitpid(): a caller that ignores SIGCHLD (or sets
// SA_NOCLDWAIT) has its children reaped by the kernel, so waitpid() ends with
// ECHILD and the exit status is lost; a caller's SIGCHLD handler that reaps
// with waitpid(-1) can take it away the same way. Changing the process-wide
// disposition around the call is not safe in a threaded caller. A child whose
// exit signal is not SIGCHLD is never auto-reaped and sends the caller no
// signal - but execve() makes a process's exit signal SIGCHLD again.
//
// So the program runs as a grandchild: the library clones a private waiter
// (exit signal 0, never calls execve) with its own signal dispositions, all
// default; the waiter starts the program and waits for it, and reports how
// the program ended through a close-on-exec pipe (and its exit code). Only the library waits for
// the waiter, by its pid with __WALL. Both clones share the caller's memory (CLONE_VM|CLONE_VFORK)
// instead of copying it, and the calling thread is suspended until the waiter has ended, so nothing
// else runs on that memory meanwhile.
#include "sys/command.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "sys/owned.h"

namespace tesvar {
namespace {

constexpr int NO_EXEC_STATUS = 127;
constexpr size_t STACK_SIZE = size_t{64} * 1024;

// The waiter's exit codes: the program exited 0, did not, or could not be
// started (WAITER_ERRNO_BASE + the errno of clone, at most 255).
constexpr int WAITER_PROGRAM_OK = 0;
constexpr int WAITER_PROGRAM_FAILED = 1;
constexpr int WAITER_ERRNO_BASE = 100;

// Code that runs in the clones, on their own stacks: AddressSanitizer's
// stack bookkeeping must stay out of it (it would take the stack switch for
// an error, and report it on the caller's standard error).
#define CHILD_CODE __attribute__((no_sanitize("address")))

struct ChildPlan {
    const char *program;
    char *const *argv;
    const CommandLimits *limits;
    const sigset_t *caller_mask;
    char *program_stack_top;
    int report_fd;  // the waiter writes its code here too
};

// The program's process, on its own stack and still sharing the caller's
// memory until execve: only async-signal-safe calls, nothing written but
// locals.
CHILD_CODE int program_main(void *argument) {
    const auto *plan = static_cast<const ChildPlan *>(argument);
    // The program's messages never reach the caller's streams.
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(null_fd, STDOUT_FILENO) < 0 ||
        dup2(null_fd, STDERR_FILENO) < 0) {
        _exit(NO_EXEC_STATUS);
    }
    if (plan->limits->max_file_size > 0) {
        const rlimit size{static_cast<rlim_t>(plan->limits->max_file_size),
                          static_cast<rlim_t>(plan->limits->max_file_size)};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0) {
            _exit(NO_EXEC_STATUS);
        }
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program's process has one thread.
    sigprocmask(SIG_SETMASK, plan->caller_mask, nullptr);
    char *const environment[] = {nullptr};
    execve(plan->program, plan->argv, environment);
    // Never return into the library, and run none of the parent's exit handlers.
    _exit(NO_EXEC_STATUS);
}

// The caller's handlers must never run in a process sharing its memory, nor
// reach the program; SIGCHLD must be default for the waiter to wait.
CHILD_CODE void default_dispositions() {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 &&
            (current.sa_handler != SIG_IGN || signal_number == SIGCHLD)) {
            sigaction(signal_number, &defaults, nullptr);
        }
    }
}

// Ends the waiter with its code, written to the report pipe first: a tool
// that runs the process under its own control (valgrind does, as a fork)
// may replace the exit code, never the report.
[[noreturn]] CHILD_CODE void end_waiter(const ChildPlan &plan, unsigned char code) {
    while (write(plan.report_fd, &code, 1) < 0 && errno == EINTR) {
    }
    _exit(code);
}

// The private waiter (see the head of the file). All signals stay blocked.
CHILD_CODE int waiter_main(void *argument) {
    auto *plan = static_cast<ChildPlan *>(argument);
    default_dispositions();
    const pid_t program =
        clone(program_main, plan->program_stack_top, CLONE_VM | CLONE_VFORK | SIGCHLD, plan);
    if (program < 0) {
        const int error = errno;
        end_waiter(*plan, WAITER_ERRNO_BASE + (error < 255 - WAITER_ERRNO_BASE ? error : 0));
    }
    int status = 0;
    while (waitpid(program, &status, 0) != program) {
        if (errno != EINTR) {
            end_waiter(*plan, WAITER_PROGRAM_FAILED);
        }
    }
    end_waiter(*plan, WIFEXITED(status) && WEXITSTATUS(status) == 0 ? WAITER_PROGRAM_OK
                                                                    : WAITER_PROGRAM_FAILED);
}

// Waits for this child only, through interruptions: 0 with its status, or errno.
int wait_for(pid_t child, int *status) {
    for (;;) {
        const pid_t ended = waitpid(child, status, __WALL);
        if (ended == child) {
            return 0;
        }
        if (ended < 0 && errno != EINTR) {
            return errno;
        }
    }
}

// The waiter's report: its code, or none when it ended without one. The
// write end is closed here first, so the read cannot wait.
bool read_report(Fd *report_read, Fd *report_write, unsigned char *code) {
    report_write->close();
    for (;;) {
        const ssize_t got = read(report_read->get(), code, 1);
        if (got == 1) {
            return true;
        }
        if (got == 0 || errno != EINTR) {
            return false;
        }
    }
}

// What the waiter's code says of the program.
int program_result(unsigned char code) {
    if (code == WAITER_PROGRAM_OK) {
        return 0;
    }
    return code > WAITER_ERRNO_BASE ? code - WAITER_ERRNO_BASE : COMMAND_FAILED;
}

}  // namespace

int run_command(const char *program, char *const argv[], const CommandLimits &limits) {
    int report[2] = {-1, -1};
    if (pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    Fd report_read(report[0]);
    Fd report_write(report[1]);
    // One block: the waiter's stack, then the program's.
    char *stacks = static_cast<char *>(std::malloc(2 * STACK_SIZE));
    if (stacks == nullptr) {
        return ENOMEM;
    }
    // Signals stay blocked while a clone shares the caller's memory; the
    // program gets the caller's mask back just before execve.
    sigset_t all{};
    sigset_t caller_mask{};
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &caller_mask);
    ChildPlan plan{program, argv, &limits, &caller_mask, stacks + 2 * STACK_SIZE, report[1]};
    // Exit signal 0: no SIGCHLD to the caller, never reaped but by us.
    pid_t waiter = clone(waiter_main, stacks + STACK_SIZE, CLONE_VM | CLONE_VFORK, &plan);
    if (waiter < 0 && errno == EINVAL) {
        // An emulator that cannot give a child an exit signal of its own
        // (a user-mode emulator refuses it) gets an ordinary waiter: the
        // report pipe still carries the outcome if it is reaped elsewhere.
        waiter = clone(waiter_main, stacks + STACK_SIZE, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
    }
    const int clone_error = errno;
    pthread_sigmask(SIG_SETMASK, &caller_mask, nullptr);
    std::free(stacks);
    if (waiter < 0) {
        return clone_error;
    }
    unsigned char code = 0;
    const bool reported = read_report(&report_read, &report_write, &code);
    int status = 0;
    const int rc = wait_for(waiter, &status);
    // ECHILD after a report: an ordinary waiter, already reaped by the
    // kernel (SIGCHLD ignored) or by the caller's own handler, has ended.
    if (rc != 0 && !(rc == ECHILD && reported)) {
        return rc;
    }
    return reported ? program_result(code) : COMMAND_FAILED;
}

int lkp_system_sec(const char *program, char *const argv[]) {
    return run_command(program, argv, CommandLimits{0});
}

int cmd_exec(const char *program, const char *arg1, const char *arg2, const char *arg3,
             const char *arg4) {
    // exec's vector is declared non-const; the child never writes through it.
    char *const argv[] = {const_cast<char *>(program), const_cast<char *>(arg1),
                          const_cast<char *>(arg2),    const_cast<char *>(arg3),
                          const_cast<char *>(arg4),    nullptr};
    return lkp_system_sec(program, argv);
}

}  // namespace tesvar
