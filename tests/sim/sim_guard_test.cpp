// The seccomp guard: real module calls never reach this machine's kernel.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "file_io.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using lkptest::KernelTest;
using SyscallFunction = long (*)(long, ...);

// A second filter that answers the module calls with "no tracer" (ENOSYS,
// the call not made) unless an older filter refuses them with a stronger
// action: a broken guard then shows as ENOSYS and still reaches nothing.
bool add_safety_net() {
    const sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_init_module, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_finit_module, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_delete_module, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(program)),
                      const_cast<sock_filter *>(program)};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

// The errnos of real init_module, finit_module and delete_module calls made
// in a child process that carries the safety net.
std::vector<int> real_module_call_errors() {
    int ends[2];
    if (pipe(ends) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        int errors[3] = {-1, -1, -1};
        if (add_safety_net()) {
            const auto real = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
            static const char image[64] = "\177ELF";
            errno = 0;
            real(SYS_init_module, image, sizeof(image), "");
            errors[0] = errno;
            errno = 0;
            real(SYS_finit_module, -1, "", 0);
            errors[1] = errno;
            errno = 0;
            real(SYS_delete_module, "lkpsim_no_such_module", O_NONBLOCK);
            errors[2] = errno;
        }
        const bool sent = write(ends[1], errors, sizeof(errors)) == sizeof(errors);
        _exit(sent ? 0 : 1);
    }
    close(ends[1]);
    int errors[3] = {0, 0, 0};
    const bool got = child > 0 && read(ends[0], errors, sizeof(errors)) == sizeof(errors);
    close(ends[0]);
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
    return got ? std::vector<int>(errors, errors + 3) : std::vector<int>{};
}

class SimGuardTest : public KernelTest {};

TEST_F(SimGuardTest, RealModuleCallsFailWithTheGuardErrno) {
    const int guard = lkpsim::GUARD_ERRNO;
    EXPECT_EQ(real_module_call_errors(), (std::vector<int>{guard, guard, guard}));
}

TEST_F(SimGuardTest, GuardIsAFilterOfThisProcessAndItsPrograms) {
    EXPECT_NE(simtest::read_text("/proc/self/status").find("Seccomp:\t2\n"), std::string::npos);
    char grep[] = "/bin/grep";
    char quiet[] = "-q";
    char pattern[] = "^Seccomp:[[:space:]]*2$";
    char status[] = "/proc/self/status";
    char *argv[] = {grep, quiet, pattern, status, nullptr};
    EXPECT_EQ(lkpsim::run_program(argv), 0);
}

}  // namespace
