// The process runner: fork, execvpe with an empty environment, wait once.
#include "sys/command.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tesvar {

int lkp_system_sec(const char *program, char *const argv[]) {
    const pid_t child = fork();
    if (child < 0) {
        return errno;
    }
    if (child == 0) {
        char *const environment[] = {nullptr};
        execvpe(program, argv, environment);
        // Never return into the library, and run none of the parent's exit handlers.
        _exit(127);
    }
    // The exit status is not examined; an interrupted wait is not repeated.
    int status = 0;
    return waitpid(child, &status, 0) == child ? 0 : errno;
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
