// Processes the guest runs beside itself: programs whose output it reads
// (lkpctl, the update module), and children that start together at a gate,
// so that two callers of the library really overlap.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace guest {

// A program's exit status (-1 when it did not exit normally) and output.
struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with argv; `env` replaces the environment when not
// empty. Standard input is /dev/null.
ProgramRun run_program(const std::vector<std::string> &argv,
                       const std::vector<std::string> &env = {});

// A program started in a process group of its own, with its output thrown
// away, to be killed half-way as a power cut of the process or a service
// manager's stop would: SIGKILL to the whole group. Killed at the latest
// when it goes out of scope.
class StartedGroup {
public:
    explicit StartedGroup(const std::vector<std::string> &argv);
    ~StartedGroup();
    StartedGroup(const StartedGroup &) = delete;
    StartedGroup &operator=(const StartedGroup &) = delete;

    bool started() const { return pid_ > 0; }
    // Kills the group and reaps the program: true when the kill ended it,
    // false when it had exited by itself before.
    bool kill_group();

private:
    int pid_;
};

// Children forked one by one that all wait at a gate until every one of
// them exists, then run at once. Each child's body returns a text the
// parent collects (its results, which the parent checks). Watchers run
// until every worker has ended and see that through `stopped`.
class Together {
public:
    using Body = std::function<std::string()>;
    using WatcherBody = std::function<std::string(const std::function<bool()> &stopped)>;

    Together();
    ~Together();
    Together(const Together &) = delete;
    Together &operator=(const Together &) = delete;

    void add(const Body &body);
    void add_watcher(const WatcherBody &body);
    // Opens the gate, waits for the workers, stops the watchers; the texts
    // in the order the children were added. A child that did not exit 0
    // gives "child exited N".
    std::vector<std::string> run();

private:
    struct Child {
        int pid;
        int result_fd;
        bool watcher;
    };
    void fork_child(const std::function<std::string()> &body, bool watcher);
    int gate_[2];
    int stop_[2];
    std::vector<Child> children_;
};

}  // namespace guest
