// Live patch transitions of the simulated kernel: the transition and signal
// files, the simulated tasks' patch_state, the one-at-a-time rule, reversal
// and the three ways a transition ends.
#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "sim_util.h"

namespace {

using simtest::Lines;
using simtest::read_text;
using simtest::stat_error;
using simtest::write_text;

const std::string LIVEPATCH = "/sys/kernel/livepatch/";
constexpr int TASK = 4100002;
const std::string TASK_DIR = "/proc/4100002/task/4100002/";

std::string transition(const std::string &patch) {
    return read_text(LIVEPATCH + patch + "/transition");
}

Lines entries(const std::string &path) {
    Lines names;
    DIR *dir = opendir(path.c_str());
    for (const dirent *entry = dir ? readdir(dir) : nullptr; entry != nullptr;
         entry = readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SimTransitionTest : public lkptest::KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        for (const char *patch : {"fix_a", "fix_b"}) {
            lkpsim::insert_patch(patch);
            lkpsim::register_patch(2, "p.tar.gz", patch);
        }
        lkpsim::add_task(TASK, "sleeper", "[<0>] hold+0x1/0x2\n");
    }
};

TEST_F(SimTransitionTest, PatchDirectoryHasTransitionAndSignalFiles) {
    EXPECT_EQ(entries(LIVEPATCH + "fix_a"),
              (Lines{".", "..", "enabled", "signal", "transition", "vmlinux"}));
    EXPECT_EQ(transition("fix_a"), "0\n");
    EXPECT_EQ(read_text(LIVEPATCH + "fix_a/signal"), "<unreadable>");
    EXPECT_EQ(write_text(LIVEPATCH + "fix_a/transition", "1"), EACCES);
    EXPECT_EQ(write_text(LIVEPATCH + "fix_a/signal", "1"), EINVAL) << "not in transition";
    EXPECT_EQ(lkpsim::history(), (Lines{"signal! fix_a 1"}));
}

TEST_F(SimTransitionTest, TaskFilesReplaceTheRealProcEntry) {
    EXPECT_EQ(entries("/proc/4100002/task"), (Lines{".", "..", "4100002"}));
    EXPECT_EQ(entries(TASK_DIR), (Lines{".", "..", "comm", "patch_state", "stack"}));
    EXPECT_EQ(read_text(TASK_DIR + "comm"), "sleeper\n");
    EXPECT_EQ(read_text(TASK_DIR + "stack"), "[<0>] hold+0x1/0x2\n");
    EXPECT_EQ(read_text(TASK_DIR + "patch_state"), "-1\n");
    EXPECT_EQ(stat_error("/proc/4100002/task/4100003"), ENOENT);
    EXPECT_EQ(stat_error(TASK_DIR + "status"), ENOENT);
    const Lines proc = entries("/proc");
    EXPECT_EQ(std::count(proc.begin(), proc.end(), "4100002"), 1);
}

TEST_F(SimTransitionTest, InstantTransitionEndsWithTheSwitch) {
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "1"), 0);
    EXPECT_EQ(transition("fix_a"), "0\n");
    EXPECT_EQ(lkpsim::patch_in_transition(), "");
    EXPECT_EQ(read_text(TASK_DIR + "patch_state"), "-1\n");
}

TEST_F(SimTransitionTest, SignalEndsTheTransition) {
    lkpsim::set_transition_scene(lkpsim::TransitionScene::AfterSignal);
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "1"), 0);
    EXPECT_EQ(transition("fix_a"), "1\n");
    EXPECT_EQ(transition("fix_b"), "0\n");
    EXPECT_EQ(read_text(TASK_DIR + "patch_state"), "0\n");
    EXPECT_EQ(write_text(LIVEPATCH + "fix_b/signal", "1"), EINVAL);
    EXPECT_EQ(write_text(LIVEPATCH + "fix_a/signal", "1"), 0);
    EXPECT_EQ(transition("fix_a"), "0\n");
    EXPECT_EQ(read_text(TASK_DIR + "patch_state"), "-1\n");
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_a 1", "signal! fix_b 1", "signal fix_a 1"}));
}

TEST_F(SimTransitionTest, StalledTransitionBlocksOthersUntilTheTaskIsReleased) {
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "1"), 0);
    EXPECT_EQ(write_text(LIVEPATCH + "fix_a/signal", "1"), 0) << "accepted, ends nothing";
    EXPECT_EQ(transition("fix_a"), "1\n");
    EXPECT_EQ(write_text(LIVEPATCH + "fix_b/enabled", "1"), EBUSY);
    EXPECT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "1"), EINVAL) << "already heading there";
    EXPECT_EQ(lkpsim::module_inserted("fix_a"), true);
    EXPECT_EQ(lkpsim::patch_in_transition(), "fix_a");
    lkpsim::release_task(TASK);
    EXPECT_EQ(transition("fix_a"), "0\n");
    EXPECT_EQ(write_text(LIVEPATCH + "fix_b/enabled", "1"), 0);
    EXPECT_EQ(lkpsim::history("enable"),
              (Lines{"enable fix_a 1", "enable! fix_b 1", "enable! fix_a 1", "enable fix_b 1"}));
}

TEST_F(SimTransitionTest, ReleaseAfterADelay) {
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    lkpsim::release_task_after(TASK, 100);
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "1"), 0);
    EXPECT_EQ(transition("fix_a"), "1\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(transition("fix_a"), "0\n");
}

// Switching the other way reverses the transition, which ends at once: the
// tasks that had not switched are already where it now leads.
TEST_F(SimTransitionTest, ReversalEndsAtOnce) {
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "1"), 0);
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "0"), 0);
    EXPECT_EQ(transition("fix_a"), "0\n");
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
}

// Upstream: the insertion starts the transition, the module stays while it
// runs, and a disabling transition shows "0" in enabled and keeps the
// directory until it ends.
TEST_F(SimTransitionTest, UpstreamModelTransitions) {
    lkpsim::reset();
    lkpsim::set_enable_on_insert(true);
    lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
    lkpsim::add_task(TASK, "sleeper", "");
    lkpsim::insert_patch("fix_a");
    ASSERT_EQ(write_text(LIVEPATCH + "fix_a/enabled", "0"), 0);
    EXPECT_EQ(read_text(LIVEPATCH + "fix_a/enabled"), "0\n");
    EXPECT_EQ(transition("fix_a"), "1\n");
    EXPECT_EQ(read_text(TASK_DIR + "patch_state"), "1\n");
    errno = 0;
    lkpsim::release_task(TASK);
    EXPECT_EQ(stat_error(LIVEPATCH + "fix_a"), ENOENT) << "freed at the end";
}

}  // namespace
