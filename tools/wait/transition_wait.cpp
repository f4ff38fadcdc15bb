// Waiting for live patch transitions through the kernel's files.
#include "transition_wait.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "sys/owned_fd.h"
#include "tesvar.h"

namespace lkpctl {
namespace {

constexpr const char *LIVEPATCH_DIR = "/sys/kernel/livepatch/";
constexpr const char *PROC_DIR = "/proc/";
constexpr long FIRST_POLL_MS = 1;
constexpr long MAX_POLL_MS = 50;
constexpr long PROGRESS_EVERY_MS = 1000;
constexpr size_t MAX_FILE_TEXT = 65536;

using Clock = std::chrono::steady_clock;

// A small kernel file's text; false when it cannot be opened or read.
bool read_text(const std::string &path, std::string *text) {
    const tesvar::Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    text->clear();
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0 || text->size() >= MAX_FILE_TEXT) {
            return true;
        }
        text->append(buffer, static_cast<size_t>(got));
    }
}

// A kernel file judges what was written when it is closed.
bool write_text(const std::string &path, const std::string &text, int *error) {
    tesvar::Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    const bool written = fd.valid() && write(fd.get(), text.data(), text.size()) ==
                                           static_cast<ssize_t>(text.size());
    if (!written || fd.close() != 0) {
        *error = errno;
        return false;
    }
    return true;
}

std::string first_line(const std::string &text) {
    return text.substr(0, text.find('\n'));
}

// The number a small file holds, or fallback.
int read_number(const std::string &path, int fallback) {
    std::string text;
    if (!read_text(path, &text)) {
        return fallback;
    }
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() ? fallback : static_cast<int>(value);
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The numeric entries of a directory, such as the pids in /proc.
std::vector<int> numeric_entries(const std::string &path) {
    std::vector<int> numbers;
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(path.c_str()), closedir);
    for (const dirent *entry = dir ? readdir(dir.get()) : nullptr; entry != nullptr;
         entry = readdir(dir.get())) {
        char *end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && number > 0) {
            numbers.push_back(static_cast<int>(number));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

UnpatchedTask describe_task(int pid, int tid, int patch_state) {
    const std::string dir = PROC_DIR + std::to_string(pid) + "/task/" + std::to_string(tid) + "/";
    UnpatchedTask task;
    task.pid = pid;
    task.tid = tid;
    task.patch_state = patch_state;
    std::string text;
    if (read_text(dir + "comm", &text)) {
        task.comm = first_line(text);
    }
    if (read_text(dir + "stack", &text)) {
        task.stack = split_lines(text);
    }
    return task;
}

long elapsed_ms(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::vector<std::string> still_in_transition(const std::vector<std::string> &patches) {
    std::vector<std::string> still;
    for (const std::string &patch : patches) {
        if (patch_in_transition(patch)) {
            still.push_back(patch);
        }
    }
    return still;
}

// The unpatched tasks of the patches in transition.
std::vector<UnpatchedTask> tasks_holding(const std::vector<std::string> &patches) {
    // The kernel runs one transition at a time: one target covers them all.
    return patches.empty() ? std::vector<UnpatchedTask>{}
                           : unpatched_tasks(transition_target(patches.front()));
}

// An operator's Ctrl-C (or SIGTERM, SIGHUP) arrived: lkpctl defers them
// while it changes the kernel, so they wait, pending, for the command to
// end; a wait that an operator gives up on ends like a timeout.
bool interrupted() {
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return false;
    }
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&pending, number) == 1) {
            return true;
        }
    }
    return false;
}

// Kernels from 5.1 on have no signal file: they signal the tasks of a
// stalled transition themselves, after about 15 seconds.
std::string signal_problem(int error) {
    return error == ENOENT ? "no signal file (this kernel signals stalled tasks itself)"
                           : navo_lkp_strerror(-error);
}

class Waiter {
public:
    Waiter(const TransitionWaitLimits &limits, const TransitionObserver &observe)
        : limits_(limits), observe_(observe) {}

    TransitionReport run(const std::vector<std::string> &patches) {
        std::vector<std::string> still = still_in_transition(patches);
        long poll_ms = 0;
        while (!still.empty() && elapsed_ms(start_) < timeout_ms() && !interrupted()) {
            tell_progress(still);
            if (!signalled_ && elapsed_ms(start_) >= grace_ms()) {
                signal_all(still);
            }
            poll_ms = next_poll_ms(poll_ms);
            const long left = timeout_ms() - elapsed_ms(start_);
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::max(0L, std::min(poll_ms, left))));
            still = still_in_transition(patches);
        }
        report_.waited_ms = elapsed_ms(start_);
        report_.completed = still.empty();
        report_.interrupted = !report_.completed && interrupted();
        report_.stalled = still;
        if (!still.empty()) {
            report_.tasks = tasks_holding(still);
        }
        return report_;
    }

private:
    long timeout_ms() const { return static_cast<long>(limits_.timeout_seconds * 1000.0); }
    long grace_ms() const { return static_cast<long>(limits_.grace_seconds * 1000.0); }

    void tell_progress(const std::vector<std::string> &still) {
        const long now = elapsed_ms(start_);
        if (now < next_progress_ms_) {
            return;
        }
        next_progress_ms_ = now + PROGRESS_EVERY_MS;
        TransitionEvent event;
        event.elapsed_ms = now;
        event.in_transition = still;
        observe_(event);
    }

    // Wakes the sleeping tasks of each stalled patch so that they can switch,
    // then names the tasks that still have not.
    void signal_all(const std::vector<std::string> &still) {
        signalled_ = true;
        for (const std::string &patch : still) {
            int error = 0;
            TransitionEvent event;
            event.kind = TransitionEvent::Signalled;
            event.patch = patch;
            if (write_text(LIVEPATCH_DIR + patch + "/signal", "1", &error)) {
                report_.signalled.push_back(patch);
            } else {
                event.problem = signal_problem(error);
                report_.signal_failures.push_back(patch + ": " + event.problem);
            }
            event.elapsed_ms = elapsed_ms(start_);
            observe_(event);
        }
        TransitionEvent named;
        named.kind = TransitionEvent::Named;
        named.elapsed_ms = elapsed_ms(start_);
        named.tasks = tasks_holding(still_in_transition(still));
        report_.tasks = named.tasks;
        if (!named.tasks.empty()) {
            observe_(named);
        }
    }

    const TransitionWaitLimits &limits_;
    const TransitionObserver &observe_;
    const Clock::time_point start_ = Clock::now();
    long next_progress_ms_ = 0;
    bool signalled_ = false;
    TransitionReport report_;
};

}  // namespace

bool patch_in_transition(const std::string &patch) {
    return read_number(LIVEPATCH_DIR + patch + "/transition", 0) == 1;
}

int transition_target(const std::string &patch) {
    return read_number(LIVEPATCH_DIR + patch + "/enabled", 1) == 0 ? 0 : 1;
}

std::vector<UnpatchedTask> unpatched_tasks(int target) {
    std::vector<UnpatchedTask> tasks;
    for (const int pid : numeric_entries(PROC_DIR)) {
        const std::string task_dir = PROC_DIR + std::to_string(pid) + "/task/";
        for (const int tid : numeric_entries(task_dir)) {
            const int state = read_number(task_dir + std::to_string(tid) + "/patch_state", -1);
            if ((state == 0 || state == 1) && state != target) {
                tasks.push_back(describe_task(pid, tid, state));
            }
        }
    }
    return tasks;
}

long next_poll_ms(long previous_ms) {
    return previous_ms <= 0 ? FIRST_POLL_MS : std::min(previous_ms * 2, MAX_POLL_MS);
}

TransitionReport wait_for_transitions(const std::vector<std::string> &patches,
                                      const TransitionWaitLimits &limits,
                                      const TransitionObserver &observe) {
    return Waiter(limits, observe).run(patches);
}

}  // namespace lkpctl
