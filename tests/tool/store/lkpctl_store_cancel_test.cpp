// install and uninstall cancelled by an operator's signal: the store change
// is made, then taken back (the order file byte for byte, each package file
// removed or put back), the tool says what it undid and exits 128 + the
// signal. The tool starts with the signal blocked (as a library call runs)
// and waits for the tool lock this test holds; the signal is sent while it
// waits, then the lock is let go: the command runs with the signal pending,
// as one that arrives during it, with no timing involved.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <thread>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

std::string read_back(int fd) {
    std::string text;
    char buffer[4096];
    (void)lseek(fd, 0, SEEK_SET);
    for (ssize_t length; (length = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(length));
    }
    return text;
}

constexpr const char *TOOL_LOCK = "/run/lkpctl.lock";
const std::string WAITING =
    "lkpctl: waiting for another lkpctl to finish (lock /run/lkpctl.lock)...\n";
// A bound only: the tool says it waits after a second.
constexpr int POLLS = 6000;
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);

// True once the tool has said that it waits for the lock, polling for a
// while. pread: the file offset, shared with the tool, is not moved.
bool says_it_waits(int err) {
    for (int poll = 0; poll < POLLS; ++poll) {
        char said[128] = {};
        const ssize_t length = pread(err, said, sizeof said, 0);
        if (length > 0 && std::string(said, static_cast<size_t>(length)) == WAITING) {
            return true;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    return false;
}

// The environment with the simulator's preload library in front, so that
// the tool's module calls reach the simulated kernel side (an inherited
// LD_PRELOAD, e.g. valgrind's, would take its place).
std::vector<std::string> module_call_env() {
    const char *asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> environment{
        "LD_PRELOAD=" + built_program(LKPSIM_PRELOAD),
        "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"};
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string inherited(*entry);
        if (inherited.rfind("LD_PRELOAD=", 0) != 0 && inherited.rfind("ASAN_OPTIONS=", 0) != 0) {
            environment.push_back(inherited);
        }
    }
    return environment;
}

// lkpctl run with args, signal_number sent while it waits for the tool lock.
ToolRun run_signalled(std::vector<std::string> args, int signal_number) {
    const int out = memfd_create("out", MFD_CLOEXEC);
    const int err = memfd_create("err", MFD_CLOEXEC);
    const int lock = open(TOOL_LOCK, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    std::string program = built_program(LKPCTL_PATH);
    std::vector<char *> argv{program.data()};
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = module_call_env();
    std::vector<char *> envp;
    envp.reserve(environment.size() + 1);
    for (std::string &entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    // Blocked from the child's start: a signal can never kill it early.
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_TRUE(says_it_waits(err));
    EXPECT_EQ(kill(pid, signal_number), 0);
    close(lock);
    int status = 0;
    (void)waitpid(pid, &status, 0);
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    run.out = read_back(out);
    run.err = read_back(err);
    // What the waiting said is checked above; the command's own lines follow.
    if (run.err.compare(0, WAITING.size(), WAITING) == 0) {
        run.err.erase(0, WAITING.size());
    }
    close(out);
    close(err);
    return run;
}

struct SignalCase {
    int signal_number;
    const char *name;
    int status;
};

void PrintTo(const SignalCase &row, std::ostream *out) {
    *out << row.name;
}

class LkpctlStoreCancelTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (std::getenv("LKPSIM_EMULATOR") != nullptr) {
            GTEST_SKIP() << "a user-mode emulator keeps the program's signal mask to itself";
        }
    }
    ToolRun cancelled(const std::vector<std::string> &args, int signal_number) {
        std::vector<std::string> expanded;
        for (const std::string &arg : args) {
            expanded.push_back(expand(arg));
        }
        return run_signalled(expanded, signal_number);
    }
    std::string stored(const std::string &name) { return file_bytes(expand(store() + "/" + name)); }
    std::set<std::string> store_entries() {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(expand(store()))) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

class LkpctlStoreSignalTest : public LkpctlStoreCancelTest,
                              public ::testing::WithParamInterface<SignalCase> {};

// A new package is taken out again, a reinstalled one gets its old bytes
// back, and the order file is as it was.
TEST_P(LkpctlStoreSignalTest, CancelledInstallIsTakenBack) {
    const SignalCase &row = GetParam();
    build_simple("b.tar.gz", {"ext4"}, "bfix_");
    run_steps({{{"install", "--root", "%D/root", "%D/b.tar.gz"},
                0,
                "b.tar.gz: installed\nboot order: b.tar.gz\n",
                ""}});
    const std::string old_b = stored("b.tar.gz");
    build_simple("b.tar.gz", {"nfs", "ext4"}, "bfix_");  // a newer b.tar.gz
    ASSERT_NE(file_bytes(expand("%D/b.tar.gz")), old_b);
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    expect_run(cancelled({"install", "--root", "%D/root", "%D/a.tar.gz", "%D/b.tar.gz"},
                         row.signal_number),
               {{"install", "a.tar.gz", "b.tar.gz"},
                row.status,
                "a.tar.gz: installed\nb.tar.gz: installed\nboot order: b.tar.gz, a.tar.gz\n",
                "lkpctl: install: " + std::string(row.name) +
                    " received; install undone: boot order as before: b.tar.gz; a.tar.gz "
                    "removed; b.tar.gz put back as it was\n" +
                    failure("install", -EINTR, "Interrupted system call")});
    EXPECT_EQ(stored("order"), "b.tar.gz\n");
    EXPECT_EQ(stored("b.tar.gz"), old_b);
    EXPECT_EQ(store_entries(), (std::set<std::string>{"b.tar.gz", "order"}));
    EXPECT_EQ(lkpsim::history(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Signals, LkpctlStoreSignalTest,
                         ::testing::Values(SignalCase{SIGINT, "SIGINT", 130},
                                           SignalCase{SIGTERM, "SIGTERM", 143},
                                           SignalCase{SIGHUP, "SIGHUP", 129}),
                         [](const ::testing::TestParamInfo<SignalCase> &info) {
                             return std::string(info.param.name);
                         });

// The first install into an empty store: the order file it made goes too.
TEST_F(LkpctlStoreCancelTest, CancelledFirstInstallLeavesNoOrderFile) {
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    expect_run(cancelled({"install", "--root", "%D/root", "%D/a.tar.gz"}, SIGINT),
               {{"install", "a.tar.gz"},
                130,
                "a.tar.gz: installed\nboot order: a.tar.gz\n",
                "lkpctl: install: SIGINT received; install undone: boot order as before: "
                "(none); a.tar.gz removed\n" +
                    failure("install", -EINTR, "Interrupted system call")});
    EXPECT_EQ(store_entries(), std::set<std::string>{});
    run_steps({{{"boot", "--root", "%D/root"}, 0, "nothing installed in " + store() + "\n", ""}});
}

// The package files come back byte for byte, then the order file as it was
// written by hand (its comment and blank line included); --json says the same.
TEST_F(LkpctlStoreCancelTest, CancelledUninstallPutsThePackagesBack) {
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    run_steps({{{"install", "--root", "%D/root", "%D/a.tar.gz", "%D/c.tar.gz"},
                0,
                "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n",
                ""}});
    const std::string by_hand = "# the operator's order\nc.tar.gz\n\na.tar.gz\n";
    std::ofstream(expand(store() + "/order"), std::ios::binary) << by_hand;
    const std::string old_a = stored("a.tar.gz");
    const std::string old_c = stored("c.tar.gz");
    expect_run(cancelled({"uninstall", "--root", "%D/root", "a.tar.gz", "c.tar.gz"}, SIGTERM),
               {{"uninstall", "a.tar.gz", "c.tar.gz"},
                143,
                "a.tar.gz: uninstalled\nc.tar.gz: uninstalled\nboot order: (none)\n",
                "lkpctl: uninstall: SIGTERM received; uninstall undone: a.tar.gz put back; "
                "c.tar.gz put back; boot order as before: c.tar.gz, a.tar.gz\n" +
                    failure("uninstall", -EINTR, "Interrupted system call")});
    EXPECT_EQ(stored("order"), by_hand);
    EXPECT_EQ(stored("a.tar.gz"), old_a);
    EXPECT_EQ(stored("c.tar.gz"), old_c);
    EXPECT_EQ(store_entries(), (std::set<std::string>{"a.tar.gz", "c.tar.gz", "order"}));

    const std::string dir = expand(store());
    expect_run(
        cancelled({"--json", "uninstall", "--root", "%D/root", "c.tar.gz"}, SIGINT),
        {{"--json", "uninstall", "c.tar.gz"},
         130,
         json_line("uninstall", -EINTR, "Interrupted system call",
                   R"({"store":")" + dir + R"(","uninstalled":["c.tar.gz"],"order":["a.tar.gz"]})",
                   R"(["SIGINT received; uninstall undone: c.tar.gz put back; boot )"
                   R"(order as before: c.tar.gz, a.tar.gz"])"),
         "lkpctl: uninstall: SIGINT received; uninstall undone: c.tar.gz put back; boot "
         "order as before: c.tar.gz, a.tar.gz\n" +
             failure("uninstall", -EINTR, "Interrupted system call")});
    EXPECT_EQ(stored("order"), by_hand);
    EXPECT_EQ(stored("c.tar.gz"), old_c);
}

// A failed install changes nothing, so there is nothing to undo: the tool
// says it stopped after the failure.
TEST_F(LkpctlStoreCancelTest, CancelledFailedInstallHasNothingToUndo) {
    expect_run(cancelled({"install", "--root", "%D/root", "%D/absent.tar.gz"}, SIGINT),
               {{"install", "absent.tar.gz"},
                130,
                "",
                "lkpctl: install: " + expand("%D/absent.tar.gz") + ": No such file or directory\n" +
                    failure("install", -ENOENT, "No such file or directory") +
                    "lkpctl: install: SIGINT received; stopped after the operation finished "
                    "with -2\n"});
    EXPECT_FALSE(std::filesystem::exists(expand("%D/root")));
}

// A removal cancelled by an operator is taken back when the store holds the
// package: it is loaded again from there and activated, as it was.
TEST_F(LkpctlStoreCancelTest, CancelledRemoveLoadsThePackageBackFromTheStore) {
    build_simple("a.tar.gz", {"ext4", "nfs"}, "afix_");
    run_steps({{{"install", "--root", "%D/root", "%D/a.tar.gz"},
                0,
                "a.tar.gz: installed\nboot order: a.tar.gz\n",
                ""},
               {{"boot", "--root", "%D/root"}, 0, "a.tar.gz: applied\n", ""}});
    expect_run(
        cancelled({"remove", "--root", "%D/root", "a.tar.gz"}, SIGINT),
        {{"remove", "a.tar.gz"},
         130,
         "a.tar.gz: active: deactivated first\na.tar.gz: removed\n",
         "lkpctl: remove: SIGINT received; remove undone: loaded again from " + expand(store()) +
             "/a.tar.gz and activated\n" + failure("remove", -EINTR, "Interrupted system call")});
    EXPECT_EQ(lkpsim::records().size(), 2u);
    EXPECT_EQ(lkpsim::patch_state("afix_1"), "enabled");
    EXPECT_EQ(lkpsim::patch_state("afix_2"), "enabled");
    const ToolRun status = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(status.status, 0) << status.out << status.err;
}

// Without a store copy there is nothing to load back: the removal stands
// and the tool says so.
TEST_F(LkpctlStoreCancelTest, CancelledRemoveOfAPackageNotInTheStoreStands) {
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    run_steps({{{"load", "%D/c.tar.gz"}, 0, "c.tar.gz: loaded\n", ""}});
    const std::string active =
        lkpsim::upstream_by_default() ? "c.tar.gz: active: deactivated first\n" : "";
    expect_run(cancelled({"remove", "--root", "%D/root", "c.tar.gz"}, SIGTERM),
               {{"remove", "c.tar.gz"},
                143,
                active + "c.tar.gz: removed\n",
                "lkpctl: remove: SIGTERM received; stopped after the operation completed\n"});
    EXPECT_TRUE(lkpsim::records().empty());
    EXPECT_FALSE(lkpsim::module_inserted("cfix_1"));
}

}  // namespace
}  // namespace lkptest
