#include "guest_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "sys/owned.h"

namespace guest {

namespace {

int exit_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_all(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        done += static_cast<size_t>(written);
    }
}

std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t len = read(fd, buf, sizeof buf);
        if (len < 0 && errno == EINTR) {
            continue;
        }
        if (len <= 0) {
            return text;
        }
        text.append(buf, static_cast<size_t>(len));
    }
}

// Reads both pipes to their ends at once, so that neither writer blocks.
void drain(int out_fd, int err_fd, std::string *out, std::string *err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *texts[2] = {out, err};
    int open_ends = 2;
    while (open_ends > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[4096];
            const ssize_t len = read(fds[i].fd, buf, sizeof buf);
            if (len > 0) {
                texts[i]->append(buf, static_cast<size_t>(len));
            } else if (len == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_ends;
            }
        }
    }
}

std::vector<char *> pointers(const std::vector<std::string> &items) {
    std::vector<char *> list;
    list.reserve(items.size() + 1);
    for (const std::string &item : items) {
        list.push_back(const_cast<char *>(item.c_str()));
    }
    list.push_back(nullptr);
    return list;
}

}  // namespace

ProgramRun run_program(const std::vector<std::string> &argv, const std::vector<std::string> &env) {
    int out_ends[2];
    int err_ends[2];
    if (argv.empty() || pipe2(out_ends, O_CLOEXEC) != 0) {
        return {-1, "", "no pipe"};
    }
    const tesvar::Fd out_read(out_ends[0]);
    tesvar::Fd out_write(out_ends[1]);
    if (pipe2(err_ends, O_CLOEXEC) != 0) {
        return {-1, "", "no pipe"};
    }
    const tesvar::Fd err_read(err_ends[0]);
    tesvar::Fd err_write(err_ends[1]);
    std::vector<char *> args = pointers(argv);
    std::vector<char *> envp = pointers(env);
    const pid_t pid = fork();
    if (pid < 0) {
        return {-1, "", "fork failed"};
    }
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_write.get(), STDOUT_FILENO);
        dup2(err_write.get(), STDERR_FILENO);
        if (env.empty()) {
            execv(args[0], args.data());
        } else {
            execve(args[0], args.data(), envp.data());
        }
        _exit(127);
    }
    out_write.close();
    err_write.close();
    ProgramRun run{-1, "", ""};
    drain(out_read.get(), err_read.get(), &run.out, &run.err);
    run.status = exit_status(pid);
    return run;
}

StartedGroup::StartedGroup(const std::vector<std::string> &argv) : pid_(-1) {
    if (argv.empty()) {
        return;
    }
    std::vector<char *> args = pointers(argv);
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid_ > 0) {
        // Also here, so that a kill right after the start finds the group.
        setpgid(pid_, pid_);
    }
}

StartedGroup::~StartedGroup() {
    if (pid_ > 0) {
        kill_group();
    }
}

bool StartedGroup::kill_group() {
    if (pid_ <= 0) {
        return false;
    }
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

Together::Together() : gate_{-1, -1}, stop_{-1, -1} {
    if (pipe2(gate_, O_CLOEXEC) != 0 || pipe2(stop_, O_CLOEXEC) != 0) {
        gate_[0] = gate_[1] = stop_[0] = stop_[1] = -1;
    }
}

Together::~Together() {
    // Children never let through the gate are ended, not run.
    for (const Child &child : children_) {
        kill(child.pid, SIGKILL);
        close(child.result_fd);
        exit_status(child.pid);
    }
    for (const int fd : {gate_[0], gate_[1], stop_[0], stop_[1]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void Together::add(const Body &body) {
    fork_child(body, false);
}

void Together::add_watcher(const WatcherBody &body) {
    const int stop_read = stop_[0];
    fork_child(
        [body, stop_read] {
            return body([stop_read] {
                pollfd ready{stop_read, POLLIN, 0};
                return poll(&ready, 1, 0) > 0;
            });
        },
        true);
}

void Together::fork_child(const std::function<std::string()> &body, bool watcher) {
    int result[2];
    if (gate_[0] < 0 || pipe2(result, O_CLOEXEC) != 0) {
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Only the parent may hold the gate's and the stop pipe's write
        // ends: their closing is the signal.
        close(gate_[1]);
        close(stop_[1]);
        close(result[0]);
        for (const Child &other : children_) {
            close(other.result_fd);
        }
        char byte;
        ssize_t got;
        do {
            got = read(gate_[0], &byte, 1);
        } while (got < 0 && errno == EINTR);
        write_all(result[1], body());
        close(result[1]);
        _exit(0);
    }
    close(result[1]);
    if (pid < 0) {
        close(result[0]);
        return;
    }
    children_.push_back(Child{pid, result[0], watcher});
}

std::vector<std::string> Together::run() {
    close(gate_[1]);
    gate_[1] = -1;
    std::vector<std::string> texts(children_.size());
    auto collect = [&](bool watchers) {
        for (size_t i = 0; i < children_.size(); ++i) {
            Child &child = children_[i];
            if (child.watcher != watchers || child.pid < 0) {
                continue;
            }
            texts[i] = read_all(child.result_fd);
            close(child.result_fd);
            const int status = exit_status(child.pid);
            if (status != 0) {
                texts[i] = "child exited " + std::to_string(status);
            }
            child.pid = -1;
        }
    };
    collect(false);
    close(stop_[1]);
    stop_[1] = -1;
    collect(true);
    std::vector<Child> done;
    children_.swap(done);
    return texts;
}

}  // namespace guest
