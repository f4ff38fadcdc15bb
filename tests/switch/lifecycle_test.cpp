// A package's whole life through the exported interface: load, activate,
// state, owner query, deactivate, remove; every kernel-side event checked.
// On the upstream kernel the load enables the package, so its activation
// finds nothing to switch.
#include <string>

#include "kernel_test.h"
#include "lkpsim/package_builder.h"
#include "switch_support.h"
#include "tesvar.h"

namespace switch_test {
namespace {

using Lifecycle = lkptest::KernelTest;

TEST_F(Lifecycle, LoadActivateDeactivateRemove) {
    const char *const pkg = "hotfix_01.tar.gz";
    lkpsim::PackageSpec spec = lkpsim::simple_package(pkg, 2);
    spec.units[1].module.targets = {"nfs"};
    const std::string path = lkpsim::build_package(spec, scratch_dir());
    ASSERT_FALSE(path.empty());
    lkpsim::clear_history();
    lkpsim::take_log();
    char owner[64] = {};

    EXPECT_EQ(navo_lkp_state(pkg), 0);
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    EXPECT_EQ(logged(), Lines{info("LKP-LOAD:Success to load.")});
    const bool upstream = lkpsim::upstream_by_default();
    EXPECT_EQ(navo_lkp_state(pkg), upstream ? 5 : 2);

    ASSERT_EQ(navo_lkp_activate(pkg), 0);
    const Lines skipped{info("The pkg has already been activated before.")};
    EXPECT_EQ(logged(),
              (upstream ? skipped : Lines{}) + Lines{info("LKP-ACTIVATE:Success to activate.")});
    EXPECT_EQ(navo_lkp_state(pkg), 5);
    EXPECT_EQ(navo_lkp_last_patch_for_module("nfs", owner, sizeof owner), 0);
    EXPECT_STREQ(owner, pkg);

    ASSERT_EQ(navo_lkp_deactivate(pkg), 0);
    EXPECT_EQ(logged(), Lines{info("LKP-DEACTIVATE:Success to deactivate.")});
    EXPECT_EQ(navo_lkp_state(pkg), 2);

    ASSERT_EQ(navo_lkp_remove(pkg), 0);
    EXPECT_EQ(logged(), Lines{info(std::string("LKP-REMOVE:Success to remove the ") + pkg)});
    EXPECT_EQ(navo_lkp_state(pkg), 0);
    EXPECT_EQ(logged(), Lines{});

    const Lines switched_on = upstream ? Lines{} : Lines{"enable fix_1 1", "enable fix_2 1"};
    const Lines installed{"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fix_2 0",
                          "op add,2,hotfix_01.tar.gz,fix_2"};
    const Lines switched_off_and_removed{"enable fix_2 0",       "enable fix_1 0",
                                         "delete fix_2 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_2",
                                         "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"};
    EXPECT_EQ(lkpsim::history(), installed + switched_on + switched_off_and_removed);
    EXPECT_EQ(lkpsim::records(), Lines{});
    EXPECT_EQ(lkpsim::inserted_modules(), Lines{"tesvar"});
}

}  // namespace
}  // namespace switch_test
