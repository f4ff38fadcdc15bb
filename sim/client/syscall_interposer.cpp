// syscall() as the processes of the simulated kernel side see it: the module
// calls are answered by the simulated kernel, every other number goes on to
// the C library. Linked into each test executable (which exports it, so the
// library's call through its PLT lands here) and built as a preload library
// for subprocesses.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

#include "module_calls.h"

namespace {

using SyscallFunction = long (*)(long, ...);

SyscallFunction next_syscall() {
    static const auto next = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    return next;
}

long answer(int error) {
    if (error == 0) {
        return 0;
    }
    errno = error;
    return -1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) long syscall(long number, ...) noexcept {
    va_list list;
    va_start(list, number);
    long args[6];
    for (long &arg : args) {
        arg = va_arg(list, long);
    }
    va_end(list);
    // System call arguments arrive as integers; some of these are addresses.
    // NOLINTBEGIN(performance-no-int-to-ptr)
    switch (number) {
        case SYS_init_module:
            return answer(lkpsim::emulate_init_module(reinterpret_cast<const void *>(args[0]),
                                                      static_cast<unsigned long>(args[1]),
                                                      reinterpret_cast<const char *>(args[2])));
        case SYS_delete_module:
            return answer(lkpsim::emulate_delete_module(
                reinterpret_cast<const char *>(args[0]),
                static_cast<unsigned int>(static_cast<unsigned long>(args[1]))));
        case SYS_finit_module:
            return answer(ENOSYS);  // never handed on: the real one is guarded
        default:
            break;
    }
    // NOLINTEND(performance-no-int-to-ptr)
    const SyscallFunction next = next_syscall();
    if (next == nullptr) {
        return answer(ENOSYS);
    }
    return next(number, args[0], args[1], args[2], args[3], args[4], args[5]);
}
