// Helper programs for the sim tests: fork, execve, read the pipe, wait.
#include "run_capture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace lkpsim_test {
namespace {

// One end of a pipe, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

std::string read_all(int fd) {
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return out;
        }
    }
}

int wait_for(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Captured run_capture(const std::vector<std::string> &args) {
    std::vector<std::string> copy = args;
    std::vector<char *> argv;
    argv.reserve(copy.size() + 1);
    for (std::string &arg : copy) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int ends[2];
    if (args.empty() || pipe2(ends, O_CLOEXEC) != 0) {
        return {};
    }
    Fd read_end(ends[0]);
    Fd write_end(ends[1]);
    char *const environment[] = {nullptr};
    const pid_t child = fork();
    if (child < 0) {
        return {};
    }
    if (child == 0) {
        dup2(write_end.get(), STDOUT_FILENO);
        dup2(write_end.get(), STDERR_FILENO);
        execve(argv[0], argv.data(), environment);
        _exit(127);
    }
    write_end.reset();
    Captured result;
    result.output = read_all(read_end.get());
    result.status = wait_for(child);
    return result;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace lkpsim_test
