// Probes of the host: each tries the very thing the simulated kernel side or
// a test does, in a child process where it could change something.
#include "host_probe.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace lkptest {

namespace {

// Whether `probe` returns true in a forked child (its effects die with it).
bool in_child(bool (*probe)()) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(probe() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool can_unshare_mounts() {
    return unshare(CLONE_NEWNS) == 0;
}

bool can_filter_calls() {
    sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog filter{1, &allow};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

bool can_open(const char *path) {
    const int fd = open(path, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

bool on_path(const char *program) {
    const char *path = std::getenv("PATH");
    std::string dirs = path == nullptr ? "/usr/bin:/bin" : path;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string missing_host_feature() {
    // Under a user-mode emulator the native launcher prepared the host part.
    if (std::getenv("LKPSIM_EMULATOR") != nullptr) {
        return "";
    }
    if (geteuid() != 0) {
        return "the simulated kernel side needs root";
    }
    if (!in_child(can_filter_calls)) {
        return "no seccomp filters on this host (the module call guard needs them)";
    }
    if (!in_child(can_unshare_mounts)) {
        return "no private mount namespace on this host (unshare(CLONE_NEWNS) refused)";
    }
    if (!can_open("/dev/fuse")) {
        return "no usable /dev/fuse on this host (the kernel's files are served by FUSE)";
    }
    return "";
}

std::string missing_terminal() {
    if (!on_path("script")) {
        return "no `script` program to run lkpctl on a terminal";
    }
    if (!can_open("/dev/ptmx")) {
        return "no pseudo-terminals on this host (/dev/ptmx)";
    }
    return "";
}

}  // namespace lkptest
