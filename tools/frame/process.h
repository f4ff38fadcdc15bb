// Running an outside program without a shell: fork, then execve of an
// absolute path with an argument vector and an empty environment.
#ifndef LKPCTL_PROCESS_H
#define LKPCTL_PROCESS_H

#include <string>
#include <vector>

#include "step_result.h"

namespace lkpctl {

// Runs argv[0] with argv and waits for it; its stdout goes to stdout_fd
// unless that is -1, its stderr likewise to stderr_fd. Fails unless the
// program exits with status 0.
StepResult run_program(const std::vector<std::string> &argv, int stdout_fd = -1,
                       int stderr_fd = -1);

}  // namespace lkpctl

#endif
