// The production library's module calls and file reads meet the simulated
// kernel side.
#include <cerrno>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "tesvar.h"

namespace {

using lkptest::KernelTest;
using Lines = std::vector<std::string>;

class SimLibraryTest : public KernelTest {};

TEST_F(SimLibraryTest, InsmodAndRmmodAreAnsweredByTheSimulatedKernel) {
    const std::string module = scratch_dir() + "/fix-a.ko";
    lkpsim::ModuleSpec spec;
    spec.name = "fix_a";
    ASSERT_TRUE(lkpsim::write_module_file(module, spec));
    EXPECT_EQ(navo_lkp_insmod(module.c_str()), 0);
    EXPECT_EQ(navo_lkp_insmod(module.c_str()), -EEXIST);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(navo_lkp_rmmod("fix-a.ko"), 0);
    EXPECT_EQ(navo_lkp_rmmod(".ko"), -ENOENT);
    EXPECT_EQ(navo_lkp_rmmod(nullptr), -EFAULT);
    EXPECT_FALSE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(lkpsim::history(), (Lines{"init fix_a 0", "init fix_a -17", "delete fix_a 0x880 0",
                                        "delete  0x880 -2", "delete ? 0x880 -14"}));
}

TEST_F(SimLibraryTest, MissingTargetReachesTheCallerAsEnopkg) {
    const std::string module = scratch_dir() + "/fix_nfs.ko";
    lkpsim::ModuleSpec spec;
    spec.name = "fix_nfs";
    spec.targets = {"nfs"};
    ASSERT_TRUE(lkpsim::write_module_file(module, spec));
    lkpsim::set_target_loaded("nfs", false);
    EXPECT_EQ(navo_lkp_insmod(module.c_str()), -ENOPKG);
}

TEST_F(SimLibraryTest, StateQueryReadsTheKernelFiles) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "hotfix_01.tar.gz", "fix_a");
    EXPECT_EQ(navo_lkp_state("hotfix_01.tar.gz"), 2);
    lkpsim::set_patch_state("fix_a", "enabled");
    EXPECT_EQ(navo_lkp_state("hotfix_01.tar.gz"), 5);
    EXPECT_EQ(navo_lkp_state("other.tar.gz"), 0);
}

}  // namespace
