// The seccomp guard: real module calls never reach this machine's kernel.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using SyscallFunction = long (*)(long, ...);
using Errors = std::vector<int>;

constexpr std::uint32_t I386_INIT_MODULE = 128;
constexpr std::uint32_t I386_DELETE_MODULE = 129;
constexpr std::uint32_t I386_FINIT_MODULE = 350;

// A second filter that answers the module calls with "no tracer" (ENOSYS,
// the call not made) unless an older filter refuses them with a stronger
// action: a broken guard then shows as ENOSYS and still reaches nothing.
// It covers the native calls and those of the 32-bit x86 entry.
bool add_safety_net() {
    const sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 6, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_init_module, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_finit_module, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_delete_module, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, I386_INIT_MODULE, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, I386_DELETE_MODULE, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, I386_FINIT_MODULE, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(program)),
                      const_cast<sock_filter *>(program)};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

// The errnos of real init_module, finit_module and delete_module calls made
// through the C library's syscall(), past this executable's interposer.
Errors native_calls() {
    const auto real = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    static const char image[64] = "\177ELF";
    Errors errors;
    errno = 0;
    real(SYS_init_module, image, sizeof(image), "");
    errors.push_back(errno);
    errno = 0;
    real(SYS_finit_module, -1, "", 0);
    errors.push_back(errno);
    errno = 0;
    real(SYS_delete_module, "lkpsim_no_such_module", O_NONBLOCK);
    errors.push_back(errno);
    return errors;
}

#if defined(__x86_64__)
// The same calls through the 32-bit entry, all arguments null.
Errors i386_calls() {
    Errors errors;
    for (const long number : {I386_INIT_MODULE, I386_FINIT_MODULE, I386_DELETE_MODULE}) {
        long result = number;
        __asm__ volatile("int $0x80" : "+a"(result) : "b"(0L), "c"(0L), "d"(0L) : "memory");
        errors.push_back(result < 0 ? static_cast<int>(-result) : 0);
    }
    return errors;
}
#endif

// Under a user-mode emulator (the cross-built suite): the test's own module
// calls are the emulator's to answer, which refuses them with ENOSYS and never
// hands them to the host, where the native launcher's guard is in force too.
// The emulator offers no seccomp, so the safety net cannot be added there.
bool emulated() {
    return std::getenv("LKPSIM_EMULATOR") != nullptr;
}

// What `calls` reports in a child process that carries the safety net (when
// it can: not under an emulator).
Errors errors_in_child(Errors (*calls)()) {
    int ends[2];
    if (pipe(ends) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        int errors[3] = {-1, -1, -1};
        if (emulated() || add_safety_net()) {
            const Errors found = calls();
            std::copy_n(found.begin(), std::min<std::size_t>(found.size(), 3), errors);
        }
        _exit(write(ends[1], errors, sizeof(errors)) == sizeof(errors) ? 0 : 1);
    }
    close(ends[1]);
    int errors[3] = {0, 0, 0};
    const bool got = child > 0 && read(ends[0], errors, sizeof(errors)) == sizeof(errors);
    close(ends[0]);
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
    return got ? Errors(errors, errors + 3) : Errors{};
}

class SimGuardTest : public lkptest::KernelTest {};

TEST_F(SimGuardTest, RealModuleCallsFailWithTheGuardErrno) {
    const int guard = lkpsim::GUARD_ERRNO;
    const Errors errors = errors_in_child(native_calls);
    if (!emulated()) {
        EXPECT_EQ(errors, (Errors{guard, guard, guard}));
        return;
    }
    ASSERT_EQ(errors.size(), 3U);
    for (const int error : errors) {
        EXPECT_TRUE(error == ENOSYS || error == guard) << "errno " << error;
    }
}

TEST_F(SimGuardTest, ModuleCallsOfThe32BitEntryFailWithTheGuardErrno) {
#if defined(__x86_64__)
    if (RUNNING_ON_VALGRIND) {
        GTEST_SKIP() << "valgrind does not run the 32-bit entry of a 64-bit program";
    }
    const int guard = lkpsim::GUARD_ERRNO;
    EXPECT_EQ(errors_in_child(i386_calls), (Errors{guard, guard, guard}));
#else
    GTEST_SKIP() << "no 32-bit entry here";
#endif
}

}  // namespace
