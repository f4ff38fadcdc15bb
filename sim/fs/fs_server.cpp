// Starting the file server process.
#include "fs_server.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fs_nodes.h"
#include "fs_session.h"
#include "sys/owned_fd.h"

namespace lkpsim {

using tesvar::Fd;

namespace {

[[noreturn]] void fail_child(const char *what) {
    std::fprintf(stderr, "lkpsim: file server: %s: %s\n", what, std::strerror(errno));
    _exit(1);
}

// The server's own mount namespace keeps the real /proc: it must never look
// up a path that it serves itself.
[[noreturn]] void run_child(pid_t parent, Fd ready) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(1);
    }
    FsSession session;
    if (!session.mount(FS_MOUNT_DIR)) {
        fail_child("cannot mount");
    }
    if (unshare(CLONE_NEWNS) != 0) {
        fail_child("cannot leave the namespace");
    }
    const char byte = 1;
    if (write(ready.get(), &byte, 1) != 1) {
        fail_child("cannot report");
    }
    ready.reset();
    session.serve();
    _exit(0);
}

}  // namespace

bool start_file_server(std::string *error) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    Fd read_end(ends[0]);
    Fd write_end(ends[1]);
    const pid_t parent = getpid();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        read_end.reset();
        run_child(parent, std::move(write_end));
    }
    write_end.reset();
    char byte = 0;
    ssize_t got = 0;
    do {
        got = read(read_end.get(), &byte, 1);
    } while (got < 0 && errno == EINTR);
    if (got != 1) {
        *error = "the file server did not start";
        return false;
    }
    return true;
}

}  // namespace lkpsim
