/* Preloaded into lkpctl by the update module's kill tests: counts the
 * session's module calls (init_module, delete_module) in the file named by
 * TESVAR_KILL_COUNTER and, when the count reaches TESVAR_KILL_AT_MODULE_CALL,
 * kills the caller's session before that call is made: the process group of
 * the session leader (the Mender client) and its own (the update module's
 * and lkpctl's). Every
 * call is then handed on to the next syscall(), the simulated kernel's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

static long count_call(void) {
    const char *path = getenv("TESVAR_KILL_COUNTER");
    if (path == NULL) {
        return 0;
    }
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return 0;
    }
    char text[32] = {0};
    ssize_t got = pread(fd, text, sizeof text - 1, 0);
    long count = (got > 0 ? strtol(text, NULL, 10) : 0) + 1;
    int length = snprintf(text, sizeof text, "%ld\n", count);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text, (size_t)length, 0) != length) {
        count = 0;
    }
    close(fd);
    return count;
}

long syscall(long number, ...) {
    va_list list;
    va_start(list, number);
    long args[6];
    for (int i = 0; i < 6; i++) {
        args[i] = va_arg(list, long);
    }
    va_end(list);
    if (number == SYS_init_module || number == SYS_delete_module) {
        const char *at = getenv("TESVAR_KILL_AT_MODULE_CALL");
        long count = count_call();
        if (at != NULL && count > 0 && count == strtol(at, NULL, 10)) {
            kill(-getsid(0), SIGKILL);
            kill(0, SIGKILL);
            pause();
        }
    }
    long (*next)(long, ...) = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return next(number, args[0], args[1], args[2], args[3], args[4], args[5]);
}
