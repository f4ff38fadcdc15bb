// lkpctl run twice and interrupted: the lock that lets one changing command
// run at a time, termination signals held back until the library call has
// finished, pack cleaning up when stopped, and failed writes of its output.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <thread>

#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "tesvar.h"
#include "tool_support.h"

namespace lkptest {
namespace {

constexpr const char *TOOL_LOCK = "/run/lkpctl.lock";
constexpr const char *KERNEL_FILES_LOCK = "/run/tesvar-kernel-files.lock";
constexpr const char *PKG = "pkgA.tar.gz";
constexpr int POLLS = 2000;
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);

// "qemu-ppc-static -L /usr/powerpc-linux-gnu lkpctl" for a shell line, or "lkpctl".
std::string shell_tool() {
    std::string line;
    for (const std::string &word : emulator_words()) {
        line += word + " ";
    }
    return line + "\"$0\"";
}

// An lkpctl started in the background, its output caught in memory files.
class Background {
public:
    Background(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
        : out_(memfd_create("out", MFD_CLOEXEC)), err_(memfd_create("err", MFD_CLOEXEC)) {
        std::vector<std::string> words = emulator_words();
        words.push_back(built_program(LKPCTL_PATH));
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        // The given entries replace the inherited ones of the same name: with
        // two LD_PRELOAD entries (valgrind's and the simulator's) the loader
        // takes the last, and the tool's module calls would miss the
        // simulated kernel side.
        std::vector<std::string> environment = env;
        for (char **entry = environ; *entry != nullptr; ++entry) {
            const std::string inherited(*entry);
            const std::string name = inherited.substr(0, inherited.find('=') + 1);
            bool replaced = false;
            for (const std::string &given : env) {
                replaced = replaced || given.compare(0, name.size(), name) == 0;
            }
            if (!replaced) {
                environment.push_back(inherited);
            }
        }
        std::vector<char *> envp;
        for (std::string &entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out_, STDOUT_FILENO);
            dup2(err_, STDERR_FILENO);
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~Background() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    pid_t pid() const { return pid_; }

    // True once the tool blocks the termination signals (it is then inside
    // a library call), polling for a while. Only the tool itself counts, not
    // the child between fork and exec (under valgrind, that one may block
    // every signal).
    bool signals_blocked() const {
        for (int poll = 0; poll < POLLS; ++poll) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            bool tool = false;
            for (std::string line; std::getline(status, line);) {
                tool = tool || line == "Name:\tlkpctl";
                if (tool && line.rfind("SigBlk:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (SIGINT - 1))) != 0) {
                    return true;
                }
            }
            std::this_thread::sleep_for(POLL_INTERVAL);
        }
        return false;
    }

    // Waits for the tool: how it ended (WIFEXITED status, or -signal) and its output.
    ToolRun finish() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        ToolRun run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        run.out = read_back(out_);
        run.err = read_back(err_);
        return run;
    }

private:
    static std::string read_back(int fd) {
        std::string text;
        char buffer[4096];
        lseek(fd, 0, SEEK_SET);
        for (ssize_t length; (length = read(fd, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<size_t>(length));
        }
        return text;
    }

    int out_;
    int err_;
    pid_t pid_ = -1;
};

// A lock file held by this test, as lkpctl takes its own and the library's
// writers take theirs: an exclusive flock.
class HeldLock {
public:
    explicit HeldLock(const char *path) : fd_(open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~HeldLock() { release(); }
    void release() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

// The environment lkpsim::run_program gives a program: its module calls
// reach the simulated kernel side through the preload library.
std::vector<std::string> module_call_env() {
    const char *asan = std::getenv("ASAN_OPTIONS");
    return {
        "LD_PRELOAD=" + built_program(LKPSIM_PRELOAD),
        "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"};
}

// The system call pid is blocked in, from /proc/<pid>/syscall; -1 when it
// is running or the kernel does not show it.
long current_syscall(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    return file >> number ? number : -1;
}

// Whether pid has the kernel-files lock open: only the library's wait for
// that lock holds it, so a flock or a pause seen then is that wait, not the
// tool's own lock.
bool holds_kernel_files_lock_open(pid_t pid) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string &fd : directory_entries(fds)) {
        char target[256] = {};
        const ssize_t len = readlink((fds + "/" + fd).c_str(), target, sizeof target - 1);
        if (len > 0 && std::string(target, static_cast<size_t>(len)) == KERNEL_FILES_LOCK) {
            return true;
        }
    }
    return false;
}

// Polls until the tool waits for the kernel-files lock (the library tries
// it without blocking and pauses in between); false when it never does.
bool waits_for_kernel_files_lock(pid_t pid) {
    for (int poll = 0; poll < POLLS; ++poll) {
        const long call = current_syscall(pid);
        if ((call == SYS_flock || call == SYS_clock_nanosleep || call == SYS_nanosleep) &&
            holds_kernel_files_lock_open(pid)) {
            return true;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    return false;
}

class LkpctlRobustTest : public ToolTest {
protected:
    // PKG registered as p1, p2, both disabled.
    // Upstream the insertion enabled the patches (and a disabled one would
    // be freed); on the default kernel they are disabled.
    static void arrange_package() {
        for (const char *patch : {"p1", "p2"}) {
            lkpsim::insert_patch(patch);
            lkpsim::register_patch(2, PKG, patch);
            if (!lkpsim::upstream_by_default()) {
                lkpsim::set_patch_state(patch, "disabled");
            }
        }
        lkpsim::clear_history();
    }

    // The switch the arranged package can make: on the default kernel it is
    // switched on, upstream off.
    struct Change {
        std::string command;  // "activate" or "deactivate"
        std::string done;     // what the tool prints when it is done
        Expected state;       // lkpctl --no-wait state PKG before the change
        std::vector<std::string> history;
    };
    static Change change() {
        const std::vector<std::string> state{"--no-wait", "state", PKG};
        if (lkpsim::upstream_by_default()) {
            return {"deactivate",
                    std::string(PKG) + ": deactivated\n",
                    {state, 0, "enabled 5\n", ""},
                    {"enable p2 0", "enable p1 0"}};
        }
        return {"activate",
                std::string(PKG) + ": activated\n",
                {state, 3, "disabled 2\n", ""},
                {"enable p1 1", "enable p2 1"}};
    }
};

TEST_F(LkpctlRobustTest, FailedWritesOfOutputExitOne) {
    const std::string tool = built_program(LKPCTL_PATH);
    // Exit 0 and 2 before any write fails; 1 once a write fails.
    const std::string run = shell_tool();
    EXPECT_EQ(run_tool("/bin/sh", {"-c", run + " strerror -257 >/dev/null", tool}).status, 0);
    EXPECT_EQ(run_tool("/bin/sh", {"-c", run + " strerror -257 >/dev/full", tool}).status, 1);
    EXPECT_EQ(run_tool("/bin/sh", {"-c", run + " --bogus 2>/dev/null", tool}).status, 2);
    EXPECT_EQ(run_tool("/bin/sh", {"-c", run + " --bogus 2>/dev/full", tool}).status, 1);
}

TEST_F(LkpctlRobustTest, NoWaitFailsAtOnceWhileAnotherHoldsTheLock) {
    arrange_package();
    const Change c = change();
    HeldLock other(TOOL_LOCK);
    const std::string held = "lkpctl: " + c.command +
                             ": another lkpctl is changing the kernel's patches (lock "
                             "/run/lkpctl.lock held); not waiting (--no-wait)\n";
    expect_run(lkpctl({"--no-wait", c.command, PKG}),
               {{"--no-wait", c.command, PKG},
                1,
                "",
                held + failure(c.command, -EWOULDBLOCK, navo_lkp_strerror(-EWOULDBLOCK))});
    EXPECT_EQ(lkpsim::history(), std::vector<std::string>{});
    // Commands that only read take no lock.
    expect_run(lkpctl(c.state.args), c.state);
    other.release();
    expect_run(lkpctl({"--no-wait", c.command, PKG}),
               {{"--no-wait", c.command, PKG}, 0, c.done, ""});
}

TEST_F(LkpctlRobustTest, WaitsForTheLockAndSaysSo) {
    arrange_package();
    const Change c = change();
    HeldLock other(TOOL_LOCK);
    Background tool({c.command, PKG});
    // Held past the one second after which the tool says it waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(lkpsim::history(), std::vector<std::string>{});
    other.release();
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.done);
    EXPECT_EQ(run.err, "lkpctl: waiting for another lkpctl to finish (lock /run/lkpctl.lock)...\n");
    EXPECT_EQ(lkpsim::history(), c.history);
}

// Another process holds the tool's lock and is stopped (Ctrl-Z): it would
// never let go, so the tool says who holds it and fails instead of waiting
// for ever; resumed, the holder lets go and the tool works again.
TEST_F(LkpctlRobustTest, AStoppedHolderOfTheLockIsNamedNotWaitedFor) {
    arrange_package();
    const Change c = change();
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = open(TOOL_LOCK, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || flock(fd, LOCK_EX) != 0 || raise(SIGSTOP) != 0) {
            _exit(1);
        }
        _exit(0);  // resumed: the lock goes with the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, WUNTRACED), holder);
    ASSERT_TRUE(WIFSTOPPED(status));
    const std::string pid = std::to_string(holder);
    expect_run(lkpctl({c.command, PKG}),
               {{c.command, PKG},
                1,
                "",
                "lkpctl: " + std::string(c.command) +
                    ": the process holding the lock /run/lkpctl.lock (pid " + pid +
                    ") is stopped: resume it (kill -CONT " + pid +
                    ") or end it, then run this "
                    "again\n" +
                    failure(c.command, -EWOULDBLOCK, "Resource temporarily unavailable")});
    EXPECT_EQ(lkpsim::history(), std::vector<std::string>{});
    ASSERT_EQ(kill(holder, SIGCONT), 0);
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    expect_run(lkpctl({c.command, PKG}), {{c.command, PKG}, 0, c.done, ""});
    EXPECT_EQ(lkpsim::history(), c.history);
}

struct SignalCase {
    int signal_number;
    const char *name;
    int status;
};

// Named, not dumped byte by byte (the padding is uninitialised).
void PrintTo(const SignalCase &row, std::ostream *out) {
    *out << row.name;
}

class LkpctlSignalTest : public LkpctlRobustTest,
                         public ::testing::WithParamInterface<SignalCase> {};

// The library call is held inside its reading of the kernel's files (this
// test holds the library's lock) while the signal arrives; the call still
// runs to its end, then what it did is undone, the tool says so and exits
// 128 + the signal.
TEST_P(LkpctlSignalTest, SignalDuringALibraryCallUndoesTheCommandAfterIt) {
    if (!emulator_words().empty()) {
        GTEST_SKIP() << "a user-mode emulator keeps the program's signal mask to itself, so "
                        "the test cannot see when the tool is inside its library call";
    }
    LKPTEST_DEFAULT_KERNEL_ONLY(
        "an activation that switches a disabled package on; upstream a "
        "disabled patch is freed, and an activation finds the package "
        "enabled already");
    const SignalCase &row = GetParam();
    arrange_package();
    HeldLock writer(KERNEL_FILES_LOCK);
    Background tool({"activate", PKG});
    ASSERT_TRUE(tool.signals_blocked());
    ASSERT_EQ(kill(tool.pid(), row.signal_number), 0);
    writer.release();
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, std::string(PKG) + ": activated\n");
    EXPECT_EQ(run.err, "lkpctl: activate: " + std::string(row.name) +
                           " received; activate undone: disabled\n" +
                           failure("activate", -EINTR, "Interrupted system call"));
    EXPECT_EQ(lkpsim::history(), (std::vector<std::string>{"enable p1 1", "enable p2 1",
                                                           "enable p2 0", "enable p1 0"}));
    EXPECT_EQ(lkpsim::patch_state("p1"), "disabled");
}

// A switch that found the package switched already changed nothing: a
// signal then takes nothing back (an activation undone so would disable the
// package, and upstream the kernel would free it).
TEST_F(LkpctlRobustTest, CancelledSwitchThatChangedNothingTakesNothingBack) {
    if (!emulator_words().empty()) {
        GTEST_SKIP() << "a user-mode emulator keeps the program's signal mask to itself";
    }
    arrange_package();
    if (!lkpsim::upstream_by_default()) {
        lkpsim::set_patch_state("p1", "enabled");
        lkpsim::set_patch_state("p2", "enabled");
        lkpsim::clear_history();
    }
    HeldLock writer(KERNEL_FILES_LOCK);
    Background tool({"activate", PKG});
    ASSERT_TRUE(tool.signals_blocked());
    ASSERT_EQ(kill(tool.pid(), SIGINT), 0);
    writer.release();
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out, std::string(PKG) + ": activated\n");
    EXPECT_EQ(run.err,
              "lkpctl: activate: SIGINT received; stopped after the operation completed\n");
    EXPECT_EQ(lkpsim::history(), std::vector<std::string>{});
    EXPECT_EQ(lkpsim::patch_state("p1"), "enabled");
    EXPECT_EQ(lkpsim::patch_state("p2"), "enabled");
}

// A load cancelled the same way is taken out again; a query has nothing to
// undo and says what it completed.
TEST_F(LkpctlRobustTest, CancelledLoadIsTakenOutAgain) {
    if (!emulator_words().empty()) {
        GTEST_SKIP() << "a user-mode emulator keeps the program's signal mask to itself";
    }
    const std::string path = build_simple("cancel.tar.gz", {"ext4", "nfs"});
    HeldLock writer(KERNEL_FILES_LOCK);
    Background tool({"load", path}, module_call_env());
    ASSERT_TRUE(tool.signals_blocked());
    ASSERT_EQ(kill(tool.pid(), SIGINT), 0);
    writer.release();
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out, "cancel.tar.gz: loaded\n");
    EXPECT_EQ(run.err, "lkpctl: load: SIGINT received; load undone: disabled and removed\n" +
                           failure("load", -EINTR, "Interrupted system call"));
    EXPECT_EQ(
        lkpsim::history("op"),
        (std::vector<std::string>{"op add,2,cancel.tar.gz,fix_1", "op add,2,cancel.tar.gz,fix_2",
                                  "op rm,2,cancel.tar.gz,fix_2", "op rm,2,cancel.tar.gz,fix_1"}));
    EXPECT_TRUE(lkpsim::records().empty());

    arrange_package();
    HeldLock reader(KERNEL_FILES_LOCK);
    Background query({"list"});
    ASSERT_TRUE(query.signals_blocked());
    ASSERT_EQ(kill(query.pid(), SIGTERM), 0);
    reader.release();
    const ToolRun listed = query.finish();
    EXPECT_EQ(listed.status, 143);
    EXPECT_EQ(listed.err,
              "lkpctl: list: SIGTERM received; stopped after the operation completed\n");
}

// boot cancelled while it applies its first package: that one is finished,
// the next is not started, and the first is taken out again.
TEST_F(LkpctlRobustTest, CancelledBootUndoesWhatItApplied) {
    if (!emulator_words().empty()) {
        GTEST_SKIP() << "a user-mode emulator keeps the program's signal mask to itself";
    }
    if (!std::ifstream("/proc/self/syscall")) {
        GTEST_SKIP() << "this kernel has no /proc/PID/syscall to see the tool wait for a lock";
    }
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    ASSERT_EQ(lkpctl({"install", "--root", "%D/root", "%D/a.tar.gz", "%D/c.tar.gz"}).status, 0);
    HeldLock writer(KERNEL_FILES_LOCK);
    Background tool({"boot", "--root", expand("%D/root")}, module_call_env());
    // Inside the first package's first library call, waiting for the lock.
    ASSERT_TRUE(waits_for_kernel_files_lock(tool.pid()))
        << "lkpctl never waited for the kernel-files lock";
    ASSERT_EQ(kill(tool.pid(), SIGINT), 0);
    writer.release();
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out, "a.tar.gz: applied\n");
    EXPECT_EQ(run.err,
              "lkpctl: boot: SIGINT received; boot undone: a.tar.gz disabled and removed\n" +
                  failure("boot", -EINTR, "Interrupted system call"));
    EXPECT_EQ(lkpsim::history("op"),
              (std::vector<std::string>{"op add,1,a.tar.gz,afix_1", "op rm,1,a.tar.gz,afix_1"}));
    // Upstream the load enabled the patch; the default kernel's boot enables it.
    const std::vector<std::string> switches =
        lkpsim::upstream_by_default()
            ? std::vector<std::string>{"enable afix_1 0"}
            : std::vector<std::string>{"enable afix_1 1", "enable afix_1 0"};
    EXPECT_EQ(lkpsim::history("enable"), switches);
    EXPECT_TRUE(lkpsim::records().empty());
}

// A library change in flight holds the kernel-files lock from a module's
// insertion to its record: repair looks for orphans under that lock, so it
// never takes such a module for a crash's leftover.
TEST_F(LkpctlRobustTest, RepairLeavesALoadInFlightAlone) {
    if (!emulator_words().empty()) {
        GTEST_SKIP() << "a user-mode emulator's own calls hide where the tool waits";
    }
    if (!std::ifstream("/proc/self/syscall")) {
        GTEST_SKIP() << "this kernel has no /proc/PID/syscall to see the tool wait for a lock";
    }
    HeldLock writer(KERNEL_FILES_LOCK);
    lkpsim::insert_patch("fix_1");  // inserted, its "add" line not yet written
    Background tool({"repair"}, module_call_env());
    ASSERT_TRUE(waits_for_kernel_files_lock(tool.pid()))
        << "lkpctl never waited for the kernel-files lock";
    lkpsim::register_patch(1, "inflight.tar.gz", "fix_1");  // the load's "add" line
    writer.release();
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "nothing to repair\n");
    EXPECT_TRUE(lkpsim::module_inserted("fix_1"));
    EXPECT_EQ(lkpsim::records(), std::vector<std::string>{"1,inflight.tar.gz,fix_1"});
}

// A caller that holds the kernel-files lock past the wait bound keeps
// repair and status from looking for orphans: that is a failure and a
// finding, never "nothing to repair".
TEST_F(LkpctlRobustTest, OrphansNotLookedForAreNotReportedAsNone) {
    lkpsim::insert_patch("fix_1");  // an orphan, which nothing may report absent
    HeldLock writer(KERNEL_FILES_LOCK);
    std::vector<std::string> env = module_call_env();
    env.emplace_back("TESVAR_WAIT_SECONDS=1");
    Background repair({"repair"}, env);
    ToolRun run = repair.finish();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "orphan patch modules: failed: -11: Resource temporarily unavailable: not looked "
              "for: another caller of the library held the kernel's files past the wait bound; "
              "run lkpctl repair again\n");
    EXPECT_EQ(run.err,
              "lkpctl: repair: orphan patch modules were not looked for\n"
              "lkpctl: repair: -11: Resource temporarily unavailable\n");
    // status cannot read the records either (exit 1), and says both.
    Background status({"status", "--root", expand("%D/root")}, env);
    run = status.finish();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\n  orphan patch modules were not looked for: another caller of the "
                           "library held the kernel's files past the wait bound; run lkpctl "
                           "status again\n"),
              std::string::npos)
        << run.out;
    writer.release();
    EXPECT_TRUE(lkpsim::module_inserted("fix_1"));
}

INSTANTIATE_TEST_SUITE_P(Signals, LkpctlSignalTest,
                         ::testing::Values(SignalCase{SIGINT, "SIGINT", 130},
                                           SignalCase{SIGTERM, "SIGTERM", 143},
                                           SignalCase{SIGHUP, "SIGHUP", 129}),
                         [](const ::testing::TestParamInfo<SignalCase> &info) {
                             return std::string(info.param.name);
                         });

// Module files large enough that pack is still compressing when stopped:
// real module images with random bytes after their end, which no ELF
// reader looks at.
std::vector<std::string> large_modules(const std::string &dir) {
    std::mt19937_64 random(11);
    std::vector<std::string> paths;
    for (int unit = 1; unit <= 4; ++unit) {
        lkpsim::ModuleSpec spec;
        spec.name = "big_" + std::to_string(unit);
        paths.push_back(dir + "/" + spec.name + ".ko");
        EXPECT_TRUE(lkpsim::write_module_file(paths.back(), spec));
        std::ofstream file(paths.back(), std::ios::binary | std::ios::app);
        std::vector<uint64_t> block(1 << 16);
        for (int blocks = 0; blocks < 24; ++blocks) {
            for (uint64_t &word : block) {
                word = random();
            }
            file.write(reinterpret_cast<const char *>(block.data()),
                       static_cast<std::streamsize>(block.size() * sizeof(uint64_t)));
        }
    }
    return paths;
}

TEST_F(LkpctlRobustTest, StoppedPackRemovesItsStagingDirectory) {
    const std::string staging_root = scratch_dir() + "/tmp";
    std::filesystem::create_directories(staging_root);
    std::vector<std::string> args{"pack", "-o", scratch_dir() + "/big.tar.gz"};
    for (const std::string &path : large_modules(scratch_dir())) {
        args.push_back(path);
    }
    Background tool(args, {"TMPDIR=" + staging_root});
    bool staged = false;
    for (int poll = 0; poll < POLLS && !staged; ++poll) {
        staged = !directory_entries(staging_root).empty();
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    ASSERT_TRUE(staged);
    ASSERT_EQ(kill(tool.pid(), SIGTERM), 0);
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 143);
    EXPECT_NE(run.err.find("lkpctl: pack: SIGTERM received; stopped, no package written\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(directory_entries(staging_root), std::set<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(scratch_dir() + "/big.tar.gz"));
}

}  // namespace
}  // namespace lkptest
