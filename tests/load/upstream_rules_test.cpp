// The library on a kernel with upstream live patching rules: patches enable
// themselves at insertion, one transition runs at a time (insertions and
// switches answer EBUSY meanwhile), transitions take time, a disabled patch
// is freed (after a moment in which its module answers EAGAIN) and can never
// be enabled again. Also the call's wait bound (TESVAR_WAIT_SECONDS) and the
// kernel-files lock held by another process.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <string>

#include "load_support.h"

namespace loadtest {
namespace {

constexpr int32_t STATE_ENABLED = 5;
constexpr int32_t STATE_DISABLED = 2;
constexpr int32_t STATE_INVALID = 9;
constexpr int32_t OPEN_FAILED = -262;
constexpr int TRANSITION_MS = 20;
constexpr int LONG_TRANSITION_MS = 1000;
constexpr int STUCK_TASK = 4100001;
constexpr const char *PKG_B = "hotfix_02.tar.gz";
constexpr const char *LOCK_FILE = "/run/tesvar-kernel-files.lock";

std::string freed_line(const std::string &patch) {
    return err("The kernel freed the disabled patch " + patch +
               ": remove the package and load it again.");
}

// Sets or clears TESVAR_WAIT_SECONDS for one test.
class WaitBound {
public:
    explicit WaitBound(const char *seconds) { setenv("TESVAR_WAIT_SECONDS", seconds, 1); }
    WaitBound(const WaitBound &) = delete;
    WaitBound &operator=(const WaitBound &) = delete;
    ~WaitBound() { unsetenv("TESVAR_WAIT_SECONDS"); }
};

// The upstream model with transitions that take TRANSITION_MS each.
class UpstreamRules : public LoadTest {
protected:
    void SetUp() override {
        LoadTest::SetUp();
        lkpsim::set_enable_on_insert(true);
        lkpsim::set_transition_time(TRANSITION_MS);
    }

    std::string three_patches(const std::string &file_name = PKG) {
        return build(package({"fix_1.ko", "fix_2.ko", "fix_3.ko"}, file_name));
    }
    std::string second_package() {
        return build(package({"fix_b1.ko", "fix_b2.ko", "fix_b3.ko"}, PKG_B), "b");
    }

    // Loads "stuck.tar.gz", whose one patch stays in transition until the
    // task STUCK_TASK is released (every later transition waits for the
    // same, so none is held up once it is).
    void load_stuck(const std::string &patch) {
        lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
        lkpsim::add_task(STUCK_TASK, "holder", "[<0>] holder+0x0/0x10\n");
        const std::string path = build(package({patch + ".ko"}, "stuck.tar.gz"), "stuck");
        ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
        ASSERT_EQ(lkpsim::patch_in_transition(), patch);
        forget_events();
    }
};

// 1: a package of three patches loads; each insertion waits for the one before
// (transitions of a second, longer than a unit takes to prepare).
TEST_F(UpstreamRules, ThreePatchPackageLoads) {
    lkpsim::set_transition_time(LONG_TRANSITION_MS);
    EXPECT_EQ(navo_lkp_load(three_patches().c_str()), 0);
    expect_events(installed(PKG, {"fix_1", "fix_2", "fix_3"}), {info("LKP-LOAD:Success to load.")});
    EXPECT_EQ(navo_lkp_state(PKG), STATE_ENABLED);
}

// 2: two packages loaded back to back.
TEST_F(UpstreamRules, TwoPackagesLoadBackToBack) {
    EXPECT_EQ(navo_lkp_load(three_patches().c_str()), 0);
    EXPECT_EQ(navo_lkp_load(second_package().c_str()), 0);
    expect_events(installed(PKG, {"fix_1", "fix_2", "fix_3"}) +
                      installed(PKG_B, {"fix_b1", "fix_b2", "fix_b3"}),
                  {info("LKP-LOAD:Success to load."), info("LKP-LOAD:Success to load.")});
    EXPECT_EQ(navo_lkp_state(PKG), STATE_ENABLED);
    EXPECT_EQ(navo_lkp_state(PKG_B), STATE_ENABLED);
}

// 4: preload and validate of a good package of three patches answer 0 and
// leave nothing.
TEST_F(UpstreamRules, PreloadOfThreePatchesLeavesNothing) {
    const std::string path = three_patches();
    for (auto trial : {navo_lkp_preload, navo_lkp_validate}) {
        EXPECT_EQ(trial(path.c_str()), 0);
        expect_events(
            installed(PKG, {"fix_1", "fix_2", "fix_3"}) +
                Lines{"enable fix_3 0", "enable fix_2 0", "enable fix_1 0", "delete fix_3 0x880 0",
                      "op rm,3,hotfix_01.tar.gz,fix_3", "delete fix_2 0x880 0",
                      "op rm,3,hotfix_01.tar.gz,fix_2", "delete fix_1 0x880 0",
                      "op rm,3,hotfix_01.tar.gz,fix_1"},
            {info("LKP-LOAD:Success to load."), info("LKP-DEACTIVATE:Success to deactivate."),
             info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
        expect_no_patches();
        lkpsim::clear_history();
    }
}

// 5: a deactivated package is freed; activation says so before writing, and
// removing and loading it again brings it back.
TEST_F(UpstreamRules, FreedPackageIsLoadedAgainNotActivated) {
    const std::string path = three_patches();
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    ASSERT_EQ(navo_lkp_deactivate(PKG), 0);
    forget_events();

    EXPECT_EQ(navo_lkp_state(PKG), STATE_DISABLED);
    EXPECT_EQ(navo_lkp_activate(PKG), OPEN_FAILED);
    expect_events({}, {freed_line("fix_1"), err("LKP-ACTIVATE:Failed to activate.")});

    EXPECT_EQ(navo_lkp_remove(PKG), 0);
    EXPECT_EQ(navo_lkp_load(path.c_str()), 0);
    EXPECT_EQ(navo_lkp_state(PKG), STATE_ENABLED);
}

// 6: deactivation while another patch is in transition waits for it, and
// switches every patch off.
TEST_F(UpstreamRules, DeactivationWaitsForAnotherPatchsTransition) {
    lkpsim::set_transition_scene(lkpsim::TransitionScene::Instant);
    ASSERT_EQ(navo_lkp_load(three_patches().c_str()), 0);
    load_stuck("other_fix");
    lkpsim::release_task_after(STUCK_TASK, TRANSITION_MS);

    EXPECT_EQ(navo_lkp_deactivate(PKG), 0);
    expect_events({"enable fix_3 0", "enable fix_2 0", "enable fix_1 0"},
                  {info("LKP-DEACTIVATE:Success to deactivate.")});
    EXPECT_EQ(navo_lkp_remove(PKG), 0);
    EXPECT_EQ(lkpsim::records(), Lines{"1,stuck.tar.gz,other_fix"});
}

// A package whose own switch stalls is switched back at once: only other
// patches' transitions are waited for (with an hour's bound, waiting for its
// own transition would never end).
TEST_F(UpstreamRules, StalledPackageIsSwitchedBackWithoutWaitingForItself) {
    load_stuck("stuck_fix");
    const WaitBound bound("3600");
    EXPECT_EQ(navo_lkp_deactivate("stuck.tar.gz"), 0);
    expect_events({"enable stuck_fix 0"}, {info("LKP-DEACTIVATE:Success to deactivate.")});
    lkpsim::release_task(STUCK_TASK);
}

// An activation of a package whose load enabled it and whose transition
// stalls changes nothing, so it does not wait for that transition either (a
// boot activates every package it loads; with an hour's bound, waiting would
// never end).
TEST_F(UpstreamRules, ActivationOfAStalledLoadedPackageDoesNotWaitForItself) {
    load_stuck("stuck_fix");
    const WaitBound bound("3600");
    EXPECT_EQ(navo_lkp_activate("stuck.tar.gz"), 0);
    expect_events({}, {info("The pkg has already been activated before."),
                       info("LKP-ACTIVATE:Success to activate.")});
    EXPECT_EQ(lkpsim::patch_in_transition(), "stuck_fix");
    lkpsim::release_task(STUCK_TASK);
}

// 8: the moment after a patch is disabled, when its module still answers
// EAGAIN: the removal tries again.
TEST_F(UpstreamRules, RemovalRetriesWhileThePatchIsFreed) {
    lkpsim::set_free_window(2);
    const std::string path = build(package({"fix_1.ko"}));
    EXPECT_EQ(navo_lkp_preload(path.c_str()), 0);
    expect_events(installed(PKG, {"fix_1"}) +
                      Lines{"enable fix_1 0", "delete fix_1 0x880 -11", "delete fix_1 0x880 -11",
                            "delete fix_1 0x880 0", "op rm,1,hotfix_01.tar.gz,fix_1"},
                  {info("LKP-LOAD:Success to load."), info("LKP-DEACTIVATE:Success to deactivate."),
                   info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

// 9: removing an enabled package is refused at once (no waiting helps).
TEST_F(UpstreamRules, RemovalOfAnEnabledPackageIsRefusedAtOnce) {
    ASSERT_EQ(navo_lkp_load(build(package({"fix_1.ko"})).c_str()), 0);
    forget_events();
    EXPECT_EQ(navo_lkp_remove(PKG), -EAGAIN);
    expect_events({"delete fix_1 0x880 -11"}, {err("LKP-REMOVE:Failed to remove.")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,hotfix_01.tar.gz,fix_1"});
}

// The bound: with 0 s nothing is waited for; a step the kernel refuses as
// busy fails with its own lines after the line naming the patch in transition.
TEST_F(UpstreamRules, BoundHitNamesThePatchInTransition) {
    load_stuck("other_fix");
    const std::string path = build(package({"fix_1.ko"}));
    {
        const WaitBound bound("0");
        EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    }
    expect_events(
        {"init fix_1 -16"},
        {err("Gave up waiting after 0 s: other_fix is still in transition."),
         err("Failed to insmod /tmp/lkp_XXXXXX/fix_1/fix_1.ko"), err("LKP-LOAD:Failed to load.")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,stuck.tar.gz,other_fix"});

    // Once the transition is over, the same load goes through.
    lkpsim::release_task(STUCK_TASK);
    EXPECT_EQ(navo_lkp_load(path.c_str()), 0);
}

// A busy answer with no transition to wait for is tried again.
TEST_F(UpstreamRules, BusyInsertionIsTriedAgain) {
    lkpsim::fail_next_init(EBUSY, "fix_1");
    EXPECT_EQ(navo_lkp_load(build(package({"fix_1.ko"})).c_str()), 0);
    expect_events(Lines{"init fix_1 -16"} + installed(PKG, {"fix_1"}),
                  {info("LKP-LOAD:Success to load.")});
}

TEST_F(UpstreamRules, BusySwitchIsTriedAgain) {
    ASSERT_EQ(navo_lkp_load(build(package({"fix_1.ko"})).c_str()), 0);
    forget_events();
    lkpsim::refuse_next_enable(EBUSY);
    EXPECT_EQ(navo_lkp_deactivate(PKG), 0);
    expect_events({"enable! fix_1 0", "enable fix_1 0"},
                  {info("LKP-DEACTIVATE:Success to deactivate.")});
}

// A busy answer that lasts past the bound: the line names the step's patch.
TEST_F(UpstreamRules, BusyRemovalPastTheBoundNamesThePatch) {
    // Instant transitions: only the freeing answers busy.
    lkpsim::set_transition_scene(lkpsim::TransitionScene::Instant);
    lkpsim::set_free_window(3);
    ASSERT_EQ(navo_lkp_load(build(package({"fix_1.ko"})).c_str()), 0);
    ASSERT_EQ(navo_lkp_deactivate(PKG), 0);
    forget_events();
    {
        const WaitBound bound("0");
        EXPECT_EQ(navo_lkp_remove(PKG), -EAGAIN);
    }
    expect_events({"delete fix_1 0x880 -11"},
                  {err("Gave up waiting after 0 s: the kernel still answers fix_1 as busy."),
                   err("LKP-REMOVE:Failed to remove.")});
    EXPECT_EQ(navo_lkp_remove(PKG), 0);
}

// Hostile bounds fall back to the default (60 s), which waits out a short
// transition; a huge one is held at an hour and waits the same.
TEST_F(UpstreamRules, HostileBoundsStillWait) {
    int round = 0;
    for (const char *hostile : {"-5", "abc", "", " 1", "1e3", "99999999999999999999999"}) {
        SCOPED_TRACE(hostile);
        const std::string dir = "round" + std::to_string(round++);
        const std::string path = build(package({"fix_1.ko", "fix_2.ko", "fix_3.ko"}), dir);
        const WaitBound bound(hostile);
        EXPECT_EQ(navo_lkp_load(path.c_str()), 0);
        EXPECT_EQ(navo_lkp_deactivate(PKG), 0);
        EXPECT_EQ(navo_lkp_remove(PKG), 0);
        expect_no_patches();
    }
}

// The kernel-files lock held by another process for good: every call gives up
// within its bound with a line naming the lock; signals without SA_RESTART
// arriving meanwhile change nothing.
class LockHeld : public UpstreamRules {
protected:
    void SetUp() override {
        UpstreamRules::SetUp();
        int ready[2];
        ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
        holder_ = fork();
        ASSERT_NE(holder_, -1);
        if (holder_ == 0) {
            const int lock = open(LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const bool held = lock >= 0 && flock(lock, LOCK_EX) == 0;
            const char answer = held ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        char answer = 'n';
        EXPECT_EQ(read(ready[0], &answer, 1), 1);
        close(ready[0]);
        ASSERT_EQ(answer, 'y');
    }
    void TearDown() override {
        if (holder_ > 0) {
            kill(holder_, SIGKILL);
            int status = 0;
            waitpid(holder_, &status, 0);
        }
        UpstreamRules::TearDown();
    }

private:
    pid_t holder_ = -1;
};

const std::string kLockLine =
    err("Gave up waiting after 1 s: /run/tesvar-kernel-files.lock is held by another caller.");

volatile sig_atomic_t alarms = 0;
void count_alarm(int) {
    alarms = alarms + 1;
}

TEST_F(LockHeld, CallsGiveUpNamingTheLock) {
    lkpsim::insert_patch("fix_1");
    lkpsim::register_patch(1, PKG, "fix_1");
    const WaitBound bound("1");
    struct sigaction action {};
    struct sigaction before {};
    action.sa_handler = count_alarm;  // no SA_RESTART: each alarm interrupts
    ASSERT_EQ(sigaction(SIGALRM, &action, &before), 0);
    itimerval every{{0, 20000}, {0, 20000}};
    itimerval off{};
    ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);

    EXPECT_EQ(navo_lkp_state(PKG), STATE_INVALID);
    EXPECT_EQ(navo_lkp_deactivate(PKG), CLOSE_FAILED);
    EXPECT_EQ(navo_lkp_remove(PKG), INVALID_ARGUMENT);

    ASSERT_EQ(setitimer(ITIMER_REAL, &off, nullptr), 0);
    ASSERT_EQ(sigaction(SIGALRM, &before, nullptr), 0);
    EXPECT_GT(alarms, 0);
    expect_events({}, {kLockLine, err("LKP-STATE: The record is not the same."), kLockLine,
                       err("LKP-DEACTIVATE:Failed to deactivate."), kLockLine,
                       err("LKP-REMOVE:Failed to remove.")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,hotfix_01.tar.gz,fix_1"});
}

TEST_F(LockHeld, LoadGivesUpBeforeInsertingAnything) {
    const WaitBound bound("1");
    EXPECT_EQ(navo_lkp_load(build(package({"fix_1.ko"})).c_str()), INVALID_ARGUMENT);
    expect_events({}, {kLockLine, err("LKP-LOAD:The record is not available.")});
    expect_no_patches();
}

}  // namespace
}  // namespace loadtest
