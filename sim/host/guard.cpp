// A raw BPF seccomp filter that refuses the module system calls. Calls of a
// foreign architecture (the 32-bit entry on x86-64) are judged by that
// architecture's numbers; an architecture the filter does not know ends the
// process, so no module call can slip through under another number.
#include "guard.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace lkpsim {

namespace {

#if defined(__x86_64__)
constexpr std::uint32_t NATIVE_ARCH = AUDIT_ARCH_X86_64;
constexpr std::uint32_t X32_BIT = 0x40000000;  // x32 calls share the x86-64 arch
constexpr std::uint32_t NATIVE_CALLS[] = {
    __NR_init_module,           __NR_finit_module,           __NR_delete_module,
    X32_BIT | __NR_init_module, X32_BIT | __NR_finit_module, X32_BIT | __NR_delete_module};
constexpr bool HAS_COMPAT = true;
constexpr std::uint32_t COMPAT_ARCH = AUDIT_ARCH_I386;
constexpr std::uint32_t COMPAT_CALLS[] = {128, 350, 129};  // i386 numbers
#elif defined(__aarch64__)
constexpr std::uint32_t NATIVE_ARCH = AUDIT_ARCH_AARCH64;
constexpr std::uint32_t NATIVE_CALLS[] = {__NR_init_module, __NR_finit_module, __NR_delete_module};
constexpr bool HAS_COMPAT = false;
constexpr std::uint32_t COMPAT_ARCH = 0;
constexpr std::uint32_t COMPAT_CALLS[] = {0};
#elif defined(__powerpc__) && !defined(__powerpc64__)
constexpr std::uint32_t NATIVE_ARCH = AUDIT_ARCH_PPC;
constexpr std::uint32_t NATIVE_CALLS[] = {__NR_init_module, __NR_finit_module, __NR_delete_module};
constexpr bool HAS_COMPAT = false;
constexpr std::uint32_t COMPAT_ARCH = 0;
constexpr std::uint32_t COMPAT_CALLS[] = {0};
#else
#error "the module guard does not know this architecture"
#endif

constexpr std::uint32_t REFUSE = SECCOMP_RET_ERRNO | (GUARD_ERRNO & SECCOMP_RET_DATA);

sock_filter statement(std::uint16_t code, std::uint32_t k) {
    return BPF_STMT(code, k);
}

sock_filter jump_if_equal(std::uint32_t k, std::uint8_t if_true, std::uint8_t if_false) {
    return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, if_true, if_false);
}

// Loads the call number and refuses the listed ones; allows the rest.
template <std::size_t N>
void append_call_checks(std::vector<sock_filter> *program, const std::uint32_t (&calls)[N]) {
    program->push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (std::size_t i = 0; i < N; ++i) {
        // Equal: skip to the refusal after the remaining checks and the allow.
        const auto to_refuse = static_cast<std::uint8_t>(N - i);
        program->push_back(jump_if_equal(calls[i], to_refuse, 0));
    }
    program->push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    program->push_back(statement(BPF_RET | BPF_K, REFUSE));
}

std::vector<sock_filter> guard_program() {
    std::vector<sock_filter> program;
    program.push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    const std::size_t native_checks = std::size(NATIVE_CALLS) + 3;
    if (HAS_COMPAT) {
        // native: to the native checks; compat: to the compat checks; else: kill.
        program.push_back(jump_if_equal(NATIVE_ARCH, 2, 0));
        program.push_back(
            jump_if_equal(COMPAT_ARCH, static_cast<std::uint8_t>(native_checks + 1), 0));
        program.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        append_call_checks(&program, NATIVE_CALLS);
        append_call_checks(&program, COMPAT_CALLS);
    } else {
        program.push_back(jump_if_equal(NATIVE_ARCH, 1, 0));
        program.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        append_call_checks(&program, NATIVE_CALLS);
    }
    return program;
}

}  // namespace

bool install_module_guard() {
    std::vector<sock_filter> program = guard_program();
    sock_fprog filter{};
    filter.len = static_cast<unsigned short>(program.size());
    filter.filter = program.data();
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return false;
    }
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

}  // namespace lkpsim
