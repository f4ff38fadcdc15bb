// Loading, rolling back and trial-loading on a kernel that enables a live
// patch at its insertion (the simulator's enable-on-insert model): there a
// patch must be disabled before its module can leave. The same scenes on the
// default model keep exactly their lines.
#include <cerrno>
#include <ostream>

#include "load_support.h"

namespace loadtest {
namespace {

const std::string kLoadFailed = err("LKP-LOAD:Failed to load.");
constexpr int32_t TRY_AGAIN = -EAGAIN;
constexpr int32_t STATE_ENABLED = 5;
constexpr int32_t STATE_DISABLED = 2;
constexpr int32_t OPEN_FAILED = -262;

std::string target_line(const std::string &patch) {
    return err("The target /tmp/lkp_XXXXXX/" + patch + "/" + patch + ".ko not loaded");
}

// A kernel model chosen before each test.
template <bool EnableOnInsert>
class KernelModel : public LoadTest {
protected:
    void SetUp() override {
        LoadTest::SetUp();
        lkpsim::set_enable_on_insert(EnableOnInsert);
    }

    // Two units; the second patches "nfs", which is not loaded.
    std::string second_unit_fails() {
        PackageSpec spec = package({"fix_1.ko", "fix_2.ko"});
        spec.units[1].module.targets = {"nfs"};
        lkpsim::set_target_loaded("nfs", false);
        return build(spec);
    }
};

using UpstreamKernel = KernelModel<true>;
using DefaultKernel = KernelModel<false>;

// The kernel side of the model itself, through the library: enabled at once,
// not removable while enabled, disabled for good.
TEST_F(UpstreamKernel, PatchIsEnabledByItsInsertionAndDisabledForGood) {
    const std::string path = build(package({"fix_1.ko"}));
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    EXPECT_EQ(navo_lkp_state(PKG), STATE_ENABLED);
    forget_events();

    EXPECT_EQ(navo_lkp_remove(PKG), TRY_AGAIN);
    expect_events({"delete fix_1 0x880 -11"}, {err("LKP-REMOVE:Failed to remove.")});
    lkpsim::clear_history();

    EXPECT_EQ(navo_lkp_deactivate(PKG), 0);
    EXPECT_EQ(navo_lkp_state(PKG), STATE_DISABLED);
    EXPECT_EQ(navo_lkp_activate(PKG), OPEN_FAILED);
    expect_events({"enable fix_1 0"},
                  {info("LKP-DEACTIVATE:Success to deactivate."),
                   err("The kernel freed the disabled patch fix_1: remove the package and load "
                       "it again."),
                   err("LKP-ACTIVATE:Failed to activate.")});

    EXPECT_EQ(navo_lkp_remove(PKG), 0);
    expect_no_patches();
    take_log();
}

// A reset goes back to the default model, where an inserted patch leaves freely.
TEST_F(UpstreamKernel, ResetEndsTheModel) {
    lkpsim::insert_patch("fix_1");
    EXPECT_EQ(navo_lkp_rmmod("fix_1"), TRY_AGAIN);
    lkpsim::reset();
    lkpsim::insert_patch("fix_1");
    EXPECT_EQ(navo_lkp_rmmod("fix_1"), 0);
    EXPECT_EQ(lkpsim::history(), Lines{"delete fix_1 0x880 0"});
    expect_no_patches();
}

// The rollback disables the first patch before it removes its module.
TEST_F(UpstreamKernel, RollbackDisablesThenRemoves) {
    EXPECT_EQ(navo_lkp_load(second_unit_fails().c_str()), TARGET_NOT_LOADED);
    expect_events({"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fix_2 -65",
                   "enable fix_1 0", "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_2"), kLoadFailed});
    expect_no_patches();
}

// A module whose "add" line is refused is enabled too: disabled, then removed.
TEST_F(UpstreamKernel, UnregisteredModuleIsDisabledThenRemoved) {
    const std::string path = build(package({"fix_1.ko"}));
    lkpsim::refuse_next_op(EINVAL, "add");
    EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    expect_events({"init fix_1 0", "op! add,1,hotfix_01.tar.gz,fix_1", "enable fix_1 0",
                   "delete fix_1 0x880 0"},
                  {err("Failed to write to /proc/navo_lkp_list."), kLoadFailed});
    expect_no_patches();
}

// The kernel may hold the module a moment after the disabling: retried.
TEST_F(UpstreamKernel, RemovalRefusedRightAfterDisablingIsRetried) {
    const std::string path = second_unit_fails();
    lkpsim::fail_next_delete(EAGAIN, "fix_1");
    EXPECT_EQ(navo_lkp_load(path.c_str()), TARGET_NOT_LOADED);
    expect_events(
        {"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fix_2 -65", "enable fix_1 0",
         "delete fix_1 0x880 -11", "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"},
        {target_line("fix_2"), kLoadFailed});
    expect_no_patches();
}

// A refused disabling is logged; the removal then fails as before and the
// rollback goes on with the "rm" line. (EINVAL: a refusal that waiting does
// not change; a busy one is tried again.)
TEST_F(UpstreamKernel, RefusedDisablingIsLoggedAndTheRollbackGoesOn) {
    const std::string path = second_unit_fails();
    lkpsim::refuse_next_enable(EINVAL);
    EXPECT_EQ(navo_lkp_load(path.c_str()), TARGET_NOT_LOADED);
    expect_events({"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fix_2 -65",
                   "enable! fix_1 0", "delete fix_1 0x880 -11", "op rm,2,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_2"), err("Failed to disable fix_1, ret -270."),
                   err("Failed lkp rmmod, ret -11."), kLoadFailed});
    EXPECT_EQ(lkpsim::records(), Lines{});
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_1"}));
}

// The trial load is switched off (newest patch first) before its removal.
TEST_F(UpstreamKernel, PreloadLeavesNothing) {
    EXPECT_EQ(navo_lkp_preload(build(package({"fix_1.ko", "fix_2.ko"})).c_str()), 0);
    expect_events(installed(PKG, {"fix_1", "fix_2"}) +
                      Lines{"enable fix_2 0", "enable fix_1 0", "delete fix_2 0x880 0",
                            "op rm,2,hotfix_01.tar.gz,fix_2", "delete fix_1 0x880 0",
                            "op rm,2,hotfix_01.tar.gz,fix_1"},
                  {info("LKP-LOAD:Success to load."), info("LKP-DEACTIVATE:Success to deactivate."),
                   info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

TEST_F(UpstreamKernel, ValidateLeavesNothing) {
    EXPECT_EQ(navo_lkp_validate(build(package({"fix_1.ko"})).c_str()), 0);
    expect_events(installed(PKG, {"fix_1"}) + Lines{"enable fix_1 0", "delete fix_1 0x880 0",
                                                    "op rm,1,hotfix_01.tar.gz,fix_1"},
                  {info("LKP-LOAD:Success to load."), info("LKP-DEACTIVATE:Success to deactivate."),
                   info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

// A trial load that cannot be switched off is reported by the removal.
TEST_F(UpstreamKernel, PreloadWhoseDisablingIsRefusedReportsTheRemoval) {
    const std::string path = build(package({"fix_1.ko"}));
    lkpsim::refuse_next_enable(EINVAL);
    EXPECT_EQ(navo_lkp_preload(path.c_str()), TRY_AGAIN);
    expect_events(installed(PKG, {"fix_1"}) + Lines{"enable! fix_1 0", "delete fix_1 0x880 -11"},
                  {info("LKP-LOAD:Success to load."), err("LKP-DEACTIVATE:Failed to deactivate."),
                   err("LKP-REMOVE:Failed to remove.")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,hotfix_01.tar.gz,fix_1"});
    EXPECT_EQ(navo_lkp_state(PKG), STATE_ENABLED);
}

// The same scenes on the default model, where inserted patches start
// disabled: no enable write, one removal each, the lines as always.

TEST_F(DefaultKernel, RollbackRemovesWithoutDisabling) {
    EXPECT_EQ(navo_lkp_load(second_unit_fails().c_str()), TARGET_NOT_LOADED);
    expect_events({"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fix_2 -65",
                   "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_2"), kLoadFailed});
    expect_no_patches();
}

// A busy answer is tried again on every kernel.
TEST_F(DefaultKernel, RemovalRefusedInTheRollbackIsRetried) {
    const std::string path = second_unit_fails();
    lkpsim::fail_next_delete(EAGAIN, "fix_1");
    EXPECT_EQ(navo_lkp_load(path.c_str()), TARGET_NOT_LOADED);
    expect_events({"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fix_2 -65",
                   "delete fix_1 0x880 -11", "delete fix_1 0x880 0",
                   "op rm,2,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_2"), kLoadFailed});
    expect_no_patches();
}

TEST_F(DefaultKernel, PreloadRemovesWithoutDeactivating) {
    EXPECT_EQ(navo_lkp_preload(build(package({"fix_1.ko", "fix_2.ko"})).c_str()), 0);
    expect_events(installed(PKG, {"fix_1", "fix_2"}) +
                      Lines{"delete fix_2 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_2",
                            "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"},
                  {info("LKP-LOAD:Success to load."),
                   info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

}  // namespace
}  // namespace loadtest
