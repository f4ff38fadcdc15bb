#include "guest_kernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/klog.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "guest_checks.h"
#include "guest_processes.h"
#include "sys/owned.h"

namespace guest {

namespace {

constexpr const char *LIVEPATCH_DIR = "/sys/kernel/livepatch";
// Transitions on one emulated CPU take about a second each.
constexpr auto TRANSITION_LIMIT = std::chrono::seconds(20);

// The guest's /dev/log socket, for the program's lifetime.
const tesvar::Fd &log_socket() {
    static const tesvar::Fd sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    return sock;
}

// The lines received from the log socket and not taken yet; only the
// holder of the mutex receives, so the lines keep their order.
std::mutex &log_mutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string> &log_lines() {
    static std::vector<std::string> lines;
    return lines;
}

// Receives every datagram queued now; keeps the message texts ("[LKP-" on).
void receive_lines(std::vector<std::string> *lines) {
    char buf[4096];
    for (;;) {
        const ssize_t len = recv(log_socket().get(), buf, sizeof(buf) - 1, MSG_DONTWAIT);
        if (len <= 0) {
            return;
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
        lines->push_back(line);
    }
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

bool read_file(const std::string &path, std::string *text) {
    text->clear();
    const tesvar::Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    char buf[4096];
    ssize_t len;
    while ((len = read(fd.get(), buf, sizeof buf)) > 0) {
        text->append(buf, static_cast<size_t>(len));
    }
    return len == 0;
}

std::string read_required(const std::string &path) {
    std::string text;
    if (!read_file(path, &text)) {
        record_failure(__FILE__, __LINE__, "cannot read " + path + ": " + guest::error_text(errno));
    }
    return text;
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
    remove_module(patch);
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

int remove_module(const std::string &name) {
    int error = 0;
    wait_until([&] {
        error = syscall(SYS_delete_module, name.c_str(), O_NONBLOCK) == 0 ? 0 : errno;
        return error != EAGAIN && error != EBUSY;
    });
    return error;
}

int write_op(const std::string &path, const std::string &text) {
    const tesvar::Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
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
    if (!log_socket().valid() ||
        bind(log_socket().get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        return false;
    }
    // The socket's queue is short: a sender blocks once it is full. While
    // the program waits for lkpctl or for children, this thread keeps
    // taking the lines in, so that no logging process ever waits for it.
    std::thread([] {
        pollfd ready{log_socket().get(), POLLIN, 0};
        for (;;) {
            if (poll(&ready, 1, -1) > 0) {
                const std::lock_guard<std::mutex> hold(log_mutex());
                receive_lines(&log_lines());
            }
        }
    }).detach();
    return true;
}

std::vector<std::string> take_log() {
    const std::lock_guard<std::mutex> hold(log_mutex());
    receive_lines(&log_lines());
    std::vector<std::string> lines;
    lines.swap(log_lines());
    return lines;
}

ToolRun run_lkpctl(const std::vector<std::string> &args) {
    std::vector<std::string> argv{LKPCTL};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramRun run = run_program(argv);
    return {run.status, run.out, run.err};
}

}  // namespace guest
