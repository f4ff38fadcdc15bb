// Runs an outside program without a shell: a child of its own (see
// command.cpp for why it is not a plain fork), exec of a fixed absolute path
// with an argument vector and an empty environment, its standard streams on
// /dev/null, waited for by its pid until it has ended.
#ifndef TESVAR_SYS_COMMAND_H
#define TESVAR_SYS_COMMAND_H

#include <sys/types.h>

namespace tesvar {

// The program ran but did not exit with status 0 (or was killed by a signal).
constexpr int COMMAND_FAILED = -1;

// What the child gets besides its arguments.
struct CommandLimits {
    off_t max_file_size;  // RLIMIT_FSIZE of the child; 0: the caller's own
};

// 0 when the program ran and exited 0; COMMAND_FAILED when it ran and did
// not; else the positive errno of the call that failed (the program could
// not be started or waited for).
int lkp_system_sec(const char *program, char *const argv[]);
int run_command(const char *program, char *const argv[], const CommandLimits &limits);

// Runs program with up to four arguments; trailing unused ones are NULL.
int cmd_exec(const char *program, const char *arg1, const char *arg2, const char *arg3,
             const char *arg4);

}  // namespace tesvar

#endif
