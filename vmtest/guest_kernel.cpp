#include "guest_kernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/klog.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "sys/owned.h"
#include "tesvar.h"

namespace guest {

namespace {

constexpr const char *LIVEPATCH_DIR = "/sys/kernel/livepatch";
constexpr const char *LKPCTL = "/opt/lkp/bin/lkpctl";
// Transitions on one emulated CPU take about a second each.
constexpr auto TRANSITION_LIMIT = std::chrono::seconds(20);

// The guest's /dev/log socket, for the program's lifetime.
const tesvar::Fd &log_socket() {
    static const tesvar::Fd sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    return sock;
}

template <typename Done>
bool wait_until(Done done) {
    const auto limit = std::chrono::steady_clock::now() + TRANSITION_LIMIT;
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::vector<std::string> dir_entries(const char *path) {
    std::vector<std::string> names;
    const tesvar::DirStream dir(opendir(path));
    if (!dir) {
        return names;
    }
    while (const dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    return names;
}

}  // namespace

std::string read_text(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool module_loaded(const std::string &name) {
    std::istringstream modules(read_text("/proc/modules"));
    std::string line;
    while (std::getline(modules, line)) {
        if (line.compare(0, name.size() + 1, name + " ") == 0) {
            return true;
        }
    }
    return false;
}

bool wait_transitions() {
    return wait_until([] {
        for (const std::string &patch : dir_entries(LIVEPATCH_DIR)) {
            const std::string flag =
                read_text(std::string(LIVEPATCH_DIR) + "/" + patch + "/transition");
            if (!flag.empty() && flag[0] == '1') {
                return false;
            }
        }
        return true;
    });
}

bool wait_patch_gone(const std::string &patch) {
    const std::string dir = std::string(LIVEPATCH_DIR) + "/" + patch;
    return wait_until([&] { return !exists(dir); });
}

void force_clean(const std::string &pkg, const std::string &patch) {
    wait_transitions();
    write_op(std::string(LIVEPATCH_DIR) + "/" + patch + "/enabled", "0");
    wait_patch_gone(patch);
    navo_lkp_rmmod(patch.c_str());
    std::istringstream records(read_text("/proc/navo_lkp_list"));
    std::string line;
    while (std::getline(records, line)) {
        const size_t last = line.rfind(',');
        if (last == std::string::npos || last == 0) {
            continue;
        }
        const size_t middle = line.rfind(',', last - 1);
        if (middle == std::string::npos) {
            continue;
        }
        const std::string record_pkg = line.substr(middle + 1, last - middle - 1);
        if (record_pkg == pkg) {
            write_op("/proc/navo_lkp_list", "rm,1," + record_pkg + "," + line.substr(last + 1));
        }
    }
    take_log();
}

int write_op(const std::string &path, const std::string &text) {
    const tesvar::Fd fd(open(path.c_str(), O_WRONLY));
    if (!fd.valid()) {
        return errno;
    }
    return write(fd.get(), text.data(), text.size()) < 0 ? errno : 0;
}

std::string kernel_log() {
    // SYSLOG_ACTION_SIZE_BUFFER, then SYSLOG_ACTION_READ_ALL.
    const int size = klogctl(10, nullptr, 0);
    if (size <= 0) {
        return "";
    }
    std::string text(static_cast<size_t>(size), '\0');
    const int len = klogctl(3, &text[0], size);
    text.resize(len > 0 ? static_cast<size_t>(len) : 0);
    return text;
}

std::vector<std::string> lkp_tmp_entries() {
    std::vector<std::string> found;
    for (const std::string &name : dir_entries("/tmp")) {
        if (name.compare(0, 4, "lkp_") == 0) {
            found.push_back(name);
        }
    }
    return found;
}

bool open_log() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    unlink(addr.sun_path);
    return log_socket().valid() &&
           bind(log_socket().get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
}

std::vector<std::string> take_log() {
    std::vector<std::string> lines;
    char buf[4096];
    for (;;) {
        const ssize_t len = recv(log_socket().get(), buf, sizeof(buf) - 1, 0);
        if (len <= 0) {
            return lines;
        }
        std::string line(buf, static_cast<size_t>(len));
        const size_t start = line.find("[LKP-");
        if (start == std::string::npos) {
            continue;
        }
        line.erase(0, start);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\0')) {
            line.pop_back();
        }
        lines.push_back(line);
    }
}

ToolRun run_lkpctl(const std::vector<std::string> &args) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return {-1, ""};
    }
    const tesvar::Fd read_end(ends[0]);
    tesvar::Fd write_end(ends[1]);
    std::vector<char *> argv{const_cast<char *>(LKPCTL)};
    for (const std::string &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        return {-1, ""};
    }
    if (pid == 0) {
        dup2(write_end.get(), STDOUT_FILENO);
        execv(LKPCTL, argv.data());
        _exit(127);
    }
    write_end.close();
    std::string text;
    char buf[1024];
    ssize_t len;
    while ((len = read(read_end.get(), buf, sizeof(buf))) > 0) {
        text.append(buf, static_cast<size_t>(len));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

}  // namespace guest
