// The program runner.
#include "process.h"

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "signals.h"

namespace lkpctl {
namespace {

constexpr int EXEC_FAILED_STATUS = 127;

// Only async-signal-safe calls between fork and execve.
[[noreturn]] void exec_child(char *const argv[], int stdout_fd, int stderr_fd) {
    if ((stdout_fd != -1 && dup2(stdout_fd, STDOUT_FILENO) < 0) ||
        (stderr_fd != -1 && dup2(stderr_fd, STDERR_FILENO) < 0)) {
        _exit(EXEC_FAILED_STATUS);
    }
    // An empty environment keeps GZIP, TAR_OPTIONS and the locale out of the output.
    char *const environment[] = {nullptr};
    execve(argv[0], argv, environment);
    _exit(EXEC_FAILED_STATUS);
}

StepResult wait_for(pid_t child, const std::string &program) {
    int status = 0;
    pid_t waited = 0;
    bool stopped = false;
    do {
        waited = waitpid(child, &status, 0);
        // A termination signal stops pack: its tar need not run to the end.
        if (waited < 0 && errno == EINTR && !stopped && CaughtSignals::caught() != 0) {
            kill(child, SIGTERM);
            stopped = true;
        }
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        return errno_failure("cannot wait for " + program, errno);
    }
    if (WIFSIGNALED(status)) {
        return step_failed(-EIO,
                           program + " was killed by signal " + std::to_string(WTERMSIG(status)));
    }
    if (WEXITSTATUS(status) != 0) {
        return step_failed(-EIO,
                           program + " exited with status " + std::to_string(WEXITSTATUS(status)));
    }
    return {};
}

}  // namespace

StepResult run_program(const std::vector<std::string> &argv, int stdout_fd, int stderr_fd) {
    // The vector is made before fork: the child must not allocate.
    std::vector<char *> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string &arg : argv) {
        pointers.push_back(const_cast<char *>(arg.c_str()));
    }
    pointers.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) {
        return errno_failure("cannot start " + argv[0], errno);
    }
    if (child == 0) {
        exec_child(pointers.data(), stdout_fd, stderr_fd);
    }
    return wait_for(child, argv[0]);
}

}  // namespace lkpctl
