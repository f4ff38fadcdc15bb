// Runs an outside program without a shell: fork, then execvpe of a fixed
// absolute path with an argument vector and an empty environment.
#ifndef TESVAR_SYS_COMMAND_H
#define TESVAR_SYS_COMMAND_H

namespace tesvar {

// 0 when the child was created and waited for (its exit status is not read),
// else the positive errno of the call that failed.
int lkp_system_sec(const char *program, char *const argv[]);

// Runs program with up to four arguments; trailing unused ones are NULL.
int cmd_exec(const char *program, const char *arg1, const char *arg2, const char *arg3,
             const char *arg4);

}  // namespace tesvar

#endif
