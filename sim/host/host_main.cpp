// lkpsim-host: the native launcher for test programs built for another
// architecture. It prepares the host part of the simulated kernel side (guard,
// namespace, kernel block, file server) and runs the given command in it,
// typically an emulator followed by the test program:
//   lkpsim-host qemu-ppc-static -L /usr/powerpc-linux-gnu ./sim_test
// The test's own lkpsim::enter() attaches to what is prepared here.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host_side.h"

namespace {

int exit_status(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: lkpsim-host PROGRAM [ARGS...]\n");
        return argc < 2 ? 2 : 0;
    }
    std::string error;
    if (!lkpsim::prepare_host_side(&error)) {
        std::fprintf(stderr, "lkpsim-host: %s\n", error.c_str());
        return 1;
    }
    std::fflush(nullptr);
    // The launcher stays the parent: the file server and the namespace live
    // as long as it does.
    const pid_t child = fork();
    if (child < 0) {
        std::perror("lkpsim-host: fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::fprintf(stderr, "lkpsim-host: %s: %s\n", argv[1], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return 1;
        }
    }
    return exit_status(status);
}
