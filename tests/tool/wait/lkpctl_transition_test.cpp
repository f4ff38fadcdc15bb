// lkpctl --wait: waiting for live patch transitions on the simulated kernel
// side, signalling stalled patches, naming the tasks that hold them up and
// undoing the command when they stall for too long.

#include <cstdlib>
#include <regex>

#include "host_probe.h"
#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

using Lines = std::vector<std::string>;

const std::string PKG = "hotfix_01.tar.gz";
constexpr int SLEEPER = 4100001;
const std::string SLEEPER_STACK = "[<0>] lkp_target_sleep+0x2c/0x60\n[<0>] kthread+0x118/0x140\n";
const std::string TIMED_OUT = "Connection timed out";  // -ETIMEDOUT's message

// Durations vary from run to run: each "<seconds>.<millis> s" becomes "T s",
// each "waited_ms":N becomes "waited_ms":T.
std::string untimed(const std::string &text) {
    const std::string seconds = std::regex_replace(text, std::regex(R"(\d+\.\d{3} s)"), "T s");
    return std::regex_replace(seconds, std::regex(R"("waited_ms":\d+)"), R"("waited_ms":T)");
}

// What stderr says about the sleeper once it is named.
std::string sleeper_lines(const std::string &command, int patch_state) {
    const std::string prefix = "lkpctl: " + command + ": ";
    return prefix + "task 4100001/4100001 (lkp_sleeper) has not switched (patch_state " +
           std::to_string(patch_state) + ")\n" + prefix + "  [<0>] lkp_target_sleep+0x2c/0x60\n" +
           prefix + "  [<0>] kthread+0x118/0x140\n";
}

std::string signalled_line(const std::string &command) {
    return "lkpctl: " + command + ": fix_1 still in transition: signalled its tasks\n";
}

// Under a user-mode emulator ($LKPSIM_EMULATOR), a host program such as
// script or timeout cannot start the emulated lkpctl on the simulated side.
bool emulated() {
    return std::getenv("LKPSIM_EMULATOR") != nullptr;
}

class LkpctlTransitionTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        lkpsim::add_task(SLEEPER, "lkp_sleeper", SLEEPER_STACK);
    }

    // PKG with fix_1 (patching ext4), loaded.
    void load_package() {
        build_simple(PKG, {"ext4"});
        ASSERT_EQ(lkpctl({"load", "%D/" + PKG}).status, 0);
        lkpsim::clear_history();
    }

    // Runs lkpctl and checks its exit status and untimed output.
    void expect_untimed(const std::vector<std::string> &args, int status, const std::string &out,
                        const std::string &err) {
        const ToolRun run = lkpctl(args);
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_EQ(untimed(run.out), expand(out));
        EXPECT_EQ(untimed(run.err), expand(err));
    }
};

// The scenes of an activation's transition after a load: upstream the load
// itself makes that transition (StalledLoadIsDisabledAndRemoved,
// StalledDeactivationIsEnabledAgain and BootLoadsEveryPackageOnAnUpstreamKernel
// cover it there).
const char *const kActivationAfterLoad =
    "the activation's transition of a package the load left disabled; upstream the load makes "
    "that transition";

TEST_F(LkpctlTransitionTest, InstantTransitionEndsTheWaitAtOnce) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    load_package();
    expect_untimed({"activate", PKG, "--wait=5"}, 0,
                   PKG + ": activated\n" + PKG + ": no patch in transition after T s\n", "");
    expect_untimed(
        {"--json", "deactivate", PKG, "--wait"}, 0,
        json_line(
            "deactivate", 0, "Success",
            R"({"package":"hotfix_01.tar.gz","transition":{"patches":["fix_1"],)"
            R"("completed":true,"interrupted":false,"waited_ms":T,"signalled":[],"signal_failures":[],"stalled":[],)"
            R"("tasks":[]}})"),
        "");
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_1 1", "enable fix_1 0"}));
}

// The sleeper switches once woken by the signal, sent after a quarter of
// the timeout.
TEST_F(LkpctlTransitionTest, SignalEndsAStalledTransition) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::AfterSignal);
    expect_untimed({"activate", PKG, "--wait=2"}, 0,
                   PKG + ": activated\n" + PKG + ": no patch in transition after T s\n",
                   signalled_line("activate"));
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_1 1", "signal fix_1 1"}));
    EXPECT_EQ(lkpsim::patch_state("fix_1"), "enabled");
    EXPECT_EQ(lkpsim::patch_in_transition(), "");
}

TEST_F(LkpctlTransitionTest, TaskReleasedInTimeEndsTheWaitWithoutASignal) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    lkpsim::release_task_after(SLEEPER, 200);
    expect_untimed({"activate", PKG, "--wait=8"}, 0,
                   PKG + ": activated\n" + PKG + ": no patch in transition after T s\n", "");
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_1 1"}));
}

TEST_F(LkpctlTransitionTest, StalledActivationIsNamedAndUndone) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    const std::string prefix = "lkpctl: activate: ";
    expect_untimed({"activate", PKG, "--wait=0.4"}, 1, "",
                   signalled_line("activate") + sleeper_lines("activate", 0) + prefix +
                       "still in transition after T s: fix_1\n" + sleeper_lines("activate", 0) +
                       prefix + "activate undone: disabled\n" +
                       failure("activate", -110, TIMED_OUT));
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_1 1", "signal fix_1 1", "enable fix_1 0"}));
    EXPECT_EQ(lkpsim::patch_state("fix_1"), "disabled");
    EXPECT_EQ(lkpsim::patch_in_transition(), "");
}

TEST_F(LkpctlTransitionTest, StalledActivationInJson) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    const std::string task =
        R"({"pid":4100001,"tid":4100001,"comm":"lkp_sleeper","patch_state":0,)"
        R"("stack":["[<0>] lkp_target_sleep+0x2c/0x60","[<0>] kthread+0x118/0x140"]})";
    const std::string details =
        R"(["still in transition after T s: fix_1",)"
        R"x("task 4100001/4100001 (lkp_sleeper) has not switched (patch_state 0)",)x"
        R"("  [<0>] lkp_target_sleep+0x2c/0x60","  [<0>] kthread+0x118/0x140",)"
        R"("activate undone: disabled"])";
    const ToolRun run = lkpctl({"--json", "activate", PKG, "--wait=0.4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        untimed(run.out),
        json_line(
            "activate", -110, TIMED_OUT,
            R"({"package":"hotfix_01.tar.gz","transition":{"patches":["fix_1"],)"
            R"("completed":false,"interrupted":false,"waited_ms":T,"signalled":["fix_1"],"signal_failures":[],)"
            R"("stalled":["fix_1"],"tasks":[)" +
                task + R"(],"reversal":"disabled"}})",
            details));
    // No progress lines in JSON mode: stderr has the failure only.
    EXPECT_EQ(untimed(run.err), "lkpctl: activate: still in transition after T s: fix_1\n" +
                                    sleeper_lines("activate", 0) +
                                    "lkpctl: activate: activate undone: disabled\n" +
                                    failure("activate", -110, TIMED_OUT));
}

// Upstream, the insertion enables the patch: a stalled load is disabled and
// its module removed, leaving nothing behind.
TEST_F(LkpctlTransitionTest, StalledLoadIsDisabledAndRemoved) {
    lkpsim::set_enable_on_insert(true);
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    build_simple(PKG, {"ext4"});
    const ToolRun run = lkpctl({"load", "%D/" + PKG, "--wait=0.4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(sleeper_lines("load", 0)), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("lkpctl: load: load undone: disabled and removed\n" +
                           failure("load", -110, TIMED_OUT)),
              std::string::npos)
        << run.err;
    EXPECT_EQ(lkpsim::history("enable"), (Lines{"enable fix_1 0"}));
    EXPECT_EQ(lkpsim::history("delete"), (Lines{"delete fix_1 0x880 0"}));
    EXPECT_TRUE(lkpsim::records().empty());
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar"}));
}

// Upstream, a patch being disabled can be enabled again while its
// transition runs; the sleeper then holds the old code (patch_state 1).
TEST_F(LkpctlTransitionTest, StalledDeactivationIsEnabledAgain) {
    lkpsim::set_enable_on_insert(true);
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    const ToolRun run = lkpctl({"deactivate", PKG, "--wait=0.4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(sleeper_lines("deactivate", 1)), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("lkpctl: deactivate: deactivate undone: enabled again\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(lkpsim::history("enable"), (Lines{"enable fix_1 0", "enable fix_1 1"}));
    EXPECT_EQ(lkpsim::patch_state("fix_1"), "enabled");
    EXPECT_EQ(lkpsim::patch_in_transition(), "");
}

// remove of an active package deactivates it first; when that transition
// stalls, the package is enabled again and nothing is removed.
TEST_F(LkpctlTransitionTest, RemoveWhoseDeactivationStallsRemovesNothing) {
    load_package();
    ASSERT_EQ(lkpctl({"activate", PKG}).status, 0);
    lkpsim::clear_history();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    const ToolRun run = lkpctl({"remove", PKG, "--wait=0.4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, PKG + ": active: deactivated first\n");
    EXPECT_NE(run.err.find(sleeper_lines("remove", 1)), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("lkpctl: remove: deactivate undone: enabled again\nlkpctl: remove: " +
                           PKG + " is not removed\n" + failure("remove", -110, TIMED_OUT)),
              std::string::npos)
        << run.err;
    EXPECT_EQ(lkpsim::history("enable"), (Lines{"enable fix_1 0", "enable fix_1 1"}));
    EXPECT_TRUE(lkpsim::history("delete").empty());
    EXPECT_EQ(lkpsim::patch_state("fix_1"), "enabled");
}

// On a terminal, one progress line rewritten in place about once a second,
// ended before the result is printed.
TEST_F(LkpctlTransitionTest, ProgressOnATerminal) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    if (emulated()) {
        GTEST_SKIP() << "script would start the emulated lkpctl natively";
    }
    const std::string no_terminal = lkptest::missing_terminal();
    if (!no_terminal.empty()) {
        GTEST_SKIP() << no_terminal;
    }
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    lkpsim::release_task_after(SLEEPER, 1500);
    const std::string command = built_program(LKPCTL_PATH) + " activate " + PKG + " --wait=10";
    // script copies its standard input to the terminal: /dev/null, never the
    // runner's.
    const ToolRun run =
        run_tool("sh", {"-c", "exec script -qec \"$1\" /dev/null </dev/null", "sh", command});
    EXPECT_EQ(run.status, 0);
    // Once at the start and after each second (how many depends on how soon
    // lkpctl starts and, on a busy machine, how soon it sees the release:
    // any number); the terminal shows each newline as "\r\n".
    const std::string progress = "\r\033\\[Klkpctl: activate: in transition for T s: fix_1";
    const std::string done =
        "\r\n" + PKG + ": activated\r\n" + PKG + ": no patch in transition after T s\r\n";
    EXPECT_TRUE(std::regex_match(
        untimed(run.out), std::regex("(" + progress + ")+" +
                                     std::regex_replace(done, std::regex(R"([.])"), R"(\.)"))))
        << run.out;
}

// Ctrl-C during the wait: the signal is held back until the command is
// undone, as on a timeout, and then ends lkpctl.
TEST_F(LkpctlTransitionTest, InterruptedWaitIsUndone) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    if (emulated()) {
        GTEST_SKIP() << "timeout would start the emulated lkpctl natively";
    }
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    const ToolRun run =
        run_tool("timeout", {"-s", "INT", "--preserve-status", "0.3", built_program(LKPCTL_PATH),
                             "activate", PKG, "--wait=30"});
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(untimed(run.err),
              "lkpctl: activate: wait interrupted; still in transition after T s: fix_1\n" +
                  sleeper_lines("activate", 0) + "lkpctl: activate: activate undone: disabled\n" +
                  failure("activate", -110, TIMED_OUT) +
                  "lkpctl: activate: SIGINT received; stopped after the operation finished with "
                  "-110\n");
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_1 1", "enable fix_1 0"}));
    EXPECT_EQ(lkpsim::patch_state("fix_1"), "disabled");
}

// boot --wait: each package's transitions end before the next package, as
// after load --wait and activate --wait.
TEST_F(LkpctlTransitionTest, BootWaitsForEachPackage) {
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    ASSERT_EQ(lkpctl({"install", "%D/a.tar.gz", "%D/c.tar.gz", "--root", "%D/root"}).status, 0);
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    lkpsim::release_task_after(SLEEPER, 200);
    expect_untimed({"boot", "--root", "%D/root", "--wait=8"}, 0,
                   "a.tar.gz: applied\na.tar.gz: no patch in transition after T s\n"
                   "c.tar.gz: applied\nc.tar.gz: no patch in transition after T s\n",
                   "");
    EXPECT_EQ(lkpsim::patch_state("afix_1"), "enabled");
    EXPECT_EQ(lkpsim::patch_state("cfix_1"), "enabled");
    EXPECT_EQ(lkpsim::patch_in_transition(), "");

    // Nothing changes the second time, so there is nothing to wait for.
    lkpsim::clear_history();
    expect_untimed({"--json", "boot", "--root", "%D/root", "--wait"}, 0,
                   json_line("boot", 0, "Success",
                             R"({"store":"%D/root/var/lib/tesvar/)" + running_release() +
                                 R"(","packages":[{"name":"a.tar.gz","action":"already active",)"
                                 R"("result":0,"message":"Success"},{"name":"c.tar.gz","action":)"
                                 R"("already active","result":0,"message":"Success"}]})"),
                   "");
    EXPECT_TRUE(lkpsim::history().empty());
}

// A package whose transition stalls is undone as a stalled load is; the
// next package is still tried.
TEST_F(LkpctlTransitionTest, StalledBootPackageIsUndoneAndTheNextTried) {
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    ASSERT_EQ(lkpctl({"install", "%D/a.tar.gz", "%D/c.tar.gz", "--root", "%D/root"}).status, 0);
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    const ToolRun run = lkpctl({"--json", "boot", "--root", "%D/root", "--wait=0.4"});
    EXPECT_EQ(run.status, 1);
    const std::string a_failed =
        R"({"name":"a.tar.gz","action":"failed","result":-110,"message":"Connection timed out",)"
        R"("explanation":"still in transition after T s: afix_1; task 4100001/4100001 )"
        R"((lkp_sleeper) has not switched (patch_state 0);   [<0>] lkp_target_sleep+0x2c/0x60;   )"
        R"([<0>] kthread+0x118/0x140; load undone: disabled and removed",)"
        R"("transition":{"patches":["afix_1"],"completed":false,)";
    EXPECT_NE(untimed(run.out).find(a_failed), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(R"({"name":"c.tar.gz","action":"failed","result":-110,)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("lkpctl: boot: 2 of 2 installed packages failed\n"), std::string::npos)
        << run.err;
    EXPECT_TRUE(lkpsim::records().empty());
    EXPECT_EQ(lkpsim::patch_in_transition(), "");
}

// status names the patches in transition; the kernel keeps no start time,
// so it does not say since when.
TEST_F(LkpctlTransitionTest, StatusShowsAPatchInTransition) {
    LKPTEST_DEFAULT_KERNEL_ONLY(kActivationAfterLoad);
    load_package();
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    ASSERT_EQ(lkpctl({"activate", PKG}).status, 0);
    // Under a root of the test's own: the host's store is not looked at.
    const ToolRun during = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(during.status, 3) << "in transition, and loaded but not installed";
    EXPECT_NE(during.out.find("\n  patch fix_1 of hotfix_01.tar.gz is in transition; if it "
                              "stays so, see docs/transitions.md\n"),
              std::string::npos)
        << during.out;
    EXPECT_NE(during.out.find("loaded packages:\n  hotfix_01.tar.gz (enabled, in transition)\n"
                              "    fix_1  enabled  in transition\n"),
              std::string::npos)
        << during.out;
    const ToolRun json = lkpctl({"--json", "status"});
    EXPECT_NE(json.out.find(R"(,"in_transition":["fix_1"],)"), std::string::npos) << json.out;

    lkpsim::release_task(SLEEPER);
    const ToolRun after = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(after.out.find("in transition"), std::string::npos) << after.out;
    EXPECT_NE(after.out.find("loaded packages:\n  hotfix_01.tar.gz (enabled)\n"
                             "    fix_1  enabled\n"),
              std::string::npos)
        << after.out;
    EXPECT_NE(lkpctl({"--json", "status"}).out.find(R"(,"in_transition":[],)"), std::string::npos);
}

TEST_F(LkpctlTransitionTest, WaitOptionMistakes) {
    const std::string bad =
        "lkpctl: activate: --wait takes a number of seconds above 0 and at most 86400, not ";
    for (const char *value : {"abc", "0", "-1", "", "1e9", " 2", "2s"}) {
        const ToolRun run = lkpctl({"activate", PKG, std::string("--wait=") + value});
        EXPECT_EQ(run.status, 2) << value;
        EXPECT_EQ(run.err.rfind(bad + "'" + value + "'\n", 0), 0u) << run.err;
    }
    const ToolRun other = lkpctl({"state", PKG, "--wait"});
    EXPECT_EQ(other.status, 2);
    EXPECT_EQ(other.err,
              "lkpctl: state: --wait is for load, activate, deactivate, remove and boot, not "
              "state\nTry 'lkpctl state --help'.\n");
    EXPECT_TRUE(lkpsim::history().empty());
}

}  // namespace
}  // namespace lkptest
