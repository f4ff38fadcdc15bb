// kill_after_syscalls N PROGRAM ARGS...: runs PROGRAM (searched in PATH)
// under ptrace in a process group of its own and, at the entry of its N-th
// system call, kills the whole group with SIGKILL, as a power cut or the
// OOM killer would; the kill waits for the next entry while the simulated
// kernel is half-way through a change (which a real kernel makes whole).
// Then it reaps every process of the group (it is their subreaper) and
// prints "killed at K" or, when PROGRAM ended first, "finished after M".
// Exit status 0; 77 when ptrace is not available here; 2 on a usage error.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "lkpsim/lkpsim.h"

#ifndef PTRACE_GET_SYSCALL_INFO
#define PTRACE_GET_SYSCALL_INFO 0x420e
#define PTRACE_SYSCALL_INFO_ENTRY 1
#endif

namespace {

constexpr int EXIT_NO_PTRACE = 77;
constexpr int EXIT_USAGE = 2;

// The op of the syscall stop the tracee is at (entry or exit).
int syscall_stop_op(pid_t child) {
    // Only the first byte (op) is needed; the kernel fills what fits.
    unsigned char info[128] = {};
    if (ptrace(static_cast<__ptrace_request>(PTRACE_GET_SYSCALL_INFO), child, sizeof info, info) <
        0) {
        return -1;
    }
    return info[0];
}

// The program's own output goes to /dev/null: stdout carries the verdict.
[[noreturn]] void run_child(char *argv[]) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0 || dup2(null, STDERR_FILENO) < 0) {
        _exit(127);
    }
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
        _exit(EXIT_NO_PTRACE);
    }
    raise(SIGSTOP);
    execvp(argv[0], argv);
    _exit(127);
}

void reap_all() {
    int status = 0;
    while (waitpid(-1, &status, __WALL) > 0 || errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    if (argc < 3) {
        (void)std::fprintf(stderr, "usage: kill_after_syscalls N PROGRAM ARGS...\n");
        return EXIT_USAGE;
    }
    const long kill_at = std::strtol(argv[1], nullptr, 10);
    const bool attached = lkpsim::attach();
    (void)prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t child = fork();
    if (child == 0) {
        run_child(argv + 2);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, __WALL) != child || !WIFSTOPPED(status) ||
        ptrace(PTRACE_SETOPTIONS, child, nullptr,
               PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACEEXEC) != 0) {
        if (child > 0) {
            kill(child, SIGKILL);
        }
        reap_all();
        return EXIT_NO_PTRACE;
    }
    long entries = 0;
    int deliver = 0;
    bool killed = false;
    while (ptrace(PTRACE_SYSCALL, child, nullptr, deliver) == 0 &&
           waitpid(child, &status, __WALL) == child && WIFSTOPPED(status)) {
        deliver = 0;
        const int stop = WSTOPSIG(status);
        if (stop == (SIGTRAP | 0x80)) {
            const int op = syscall_stop_op(child);
            if (op < 0) {
                kill(child, SIGKILL);
                reap_all();
                return EXIT_NO_PTRACE;
            }
            if (op == PTRACE_SYSCALL_INFO_ENTRY && ++entries >= kill_at &&
                (!attached || lkpsim::kernel_lock_free())) {
                killpg(child, SIGKILL);
                killed = true;
                break;
            }
        } else if (stop != SIGTRAP) {
            deliver = stop;  // a signal for the program: passed on
        }
    }
    reap_all();
    if (killed) {
        std::printf("killed at %ld\n", entries);
    } else {
        std::printf("finished after %ld\n", entries);
    }
    return 0;
}
