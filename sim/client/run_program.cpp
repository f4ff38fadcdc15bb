// Running a program inside the namespace, its module calls answered by the
// simulated kernel through the preload library.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "lkpsim/lkpsim.h"
#include "sys/owned_fd.h"

namespace lkpsim {

using tesvar::Fd;

namespace {

constexpr std::string_view PRELOAD_KEY = "LD_PRELOAD=";
constexpr std::string_view ASAN_KEY = "ASAN_OPTIONS=";
// A sanitized program would refuse a preloaded library ahead of its runtime.
constexpr const char *ASAN_LINK_ORDER = "verify_asan_link_order=0";

// "KEY=first:second", leaving out an empty part.
std::string joined(std::string_view key, std::string_view first, std::string_view second) {
    const std::string_view separator = first.empty() || second.empty() ? "" : ":";
    return std::string(key).append(first).append(separator).append(second);
}

// The emulator that runs programs of this process's own architecture when
// that is not the host's: $LKPSIM_EMULATOR, words separated by blanks (such
// as "qemu-ppc-static -L /usr/powerpc-linux-gnu"). The host has no binfmt_misc
// registration to do that by itself.
constexpr const char *EMULATOR_VARIABLE = "LKPSIM_EMULATOR";

// The ELF identity that decides which emulator runs a file: class, byte
// order and machine. Empty when the file is not ELF.
std::string elf_identity(const char *path) {
    const Fd file(open(path, O_RDONLY | O_CLOEXEC));
    std::array<char, 20> head{};
    if (!file.valid() ||
        read(file.get(), head.data(), head.size()) != static_cast<ssize_t>(head.size()) ||
        std::string_view(head.data(), 4) != "\177ELF") {
        return "";
    }
    return std::string(head.data() + 4, 2) + std::string(head.data() + 18, 2);
}

// The words to put before argv when the program is built for this process's
// architecture and this process runs emulated; none otherwise.
std::vector<std::string> emulator_for(const char *program) {
    const char *emulator = std::getenv(EMULATOR_VARIABLE);
    std::vector<std::string> words;
    if (emulator == nullptr || std::string_view(program).find('/') == std::string_view::npos) {
        return words;
    }
    const std::string identity = elf_identity(program);
    if (identity.empty() || identity != elf_identity("/proc/self/exe")) {
        return words;  // a host program (such as tar) runs natively
    }
    std::istringstream text(emulator);
    for (std::string word; text >> word;) {
        words.push_back(word);
    }
    return words;
}

// This process's environment with the preload library put first in
// LD_PRELOAD and the link order check added to ASAN_OPTIONS. A host program
// started from an emulated process gets no preload: the library is not of
// its architecture (and it makes no module calls to answer).
std::vector<std::string> program_environment(bool with_preload) {
    std::string_view preload;
    std::string_view asan;
    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (text.substr(0, PRELOAD_KEY.size()) == PRELOAD_KEY) {
            preload = text.substr(PRELOAD_KEY.size());
        } else if (text.substr(0, ASAN_KEY.size()) == ASAN_KEY) {
            asan = text.substr(ASAN_KEY.size());
        } else {
            environment.emplace_back(text);
        }
    }
    environment.push_back(joined(PRELOAD_KEY, with_preload ? LKPSIM_PRELOAD_PATH : "", preload));
    environment.push_back(joined(ASAN_KEY, asan, ASAN_LINK_ORDER));
    return environment;
}

int exit_status(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// Everything written to fd, from its start.
std::string read_back(int fd) {
    std::string text;
    char buffer[4096];
    if (lseek(fd, 0, SEEK_SET) != 0) {
        return text;
    }
    for (;;) {
        const ssize_t length = read(fd, buffer, sizeof buffer);
        if (length > 0) {
            text.append(buffer, static_cast<size_t>(length));
        } else if (length == 0 || errno != EINTR) {
            return text;
        }
    }
}

// The NULL-terminated vector exec takes, pointing into texts.
std::vector<char *> pointers_to(std::vector<std::string> *texts) {
    std::vector<char *> pointers;
    pointers.reserve(texts->size() + 1);
    for (std::string &text : *texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Runs the program with out_fd and err_fd (when not -1) as its standard output and error.
int run_with(char *const argv[], int out_fd, int err_fd) {
    std::vector<std::string> command = emulator_for(argv[0]);
    const bool emulated_run = std::getenv(EMULATOR_VARIABLE) != nullptr;
    std::vector<std::string> environment = program_environment(!emulated_run || !command.empty());
    for (char *const *arg = argv; *arg != nullptr; ++arg) {
        command.emplace_back(*arg);
    }
    std::vector<char *> command_pointers = pointers_to(&command);
    std::vector<char *> environment_pointers = pointers_to(&environment);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        return 127;
    }
    if (child == 0) {
        if ((out_fd >= 0 && dup2(out_fd, STDOUT_FILENO) < 0) ||
            (err_fd >= 0 && dup2(err_fd, STDERR_FILENO) < 0)) {
            _exit(127);
        }
        execvpe(command_pointers[0], command_pointers.data(), environment_pointers.data());
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return 127;
        }
    }
    return exit_status(status);
}

}  // namespace

int run_program(char *const argv[]) {
    return run_with(argv, -1, -1);
}

int run_program(char *const argv[], std::string *out, std::string *err) {
    const Fd out_file(memfd_create("lkpsim-stdout", MFD_CLOEXEC));
    const Fd err_file(memfd_create("lkpsim-stderr", MFD_CLOEXEC));
    if (!out_file.valid() || !err_file.valid()) {
        return 127;
    }
    const int status = run_with(argv, out_file.get(), err_file.get());
    *out = read_back(out_file.get());
    *err = read_back(err_file.get());
    return status;
}

}  // namespace lkpsim
