// fs_op: op lines to the control file and enable switches, as the kernel
// side receives them, and every way a write can fail.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kernel/control_file.h"
#include "kernel_helpers.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using kerneltest::Lines;

class FsOp : public lkptest::KernelTest {};

TEST_F(FsOp, OpLinesRegisterAndUnregister) {
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, 2, "pkg.tar.gz", "fix_a"), 0);
    EXPECT_EQ(lkpsim::records(), Lines{"2,pkg.tar.gz,fix_a"});
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, -7, "pkg.tar.gz", "fix_b"), 0);
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_RM, 2, "pkg.tar.gz", "fix_a"), 0);
    EXPECT_EQ(lkpsim::records(), Lines{"-7,pkg.tar.gz,fix_b"});
    EXPECT_EQ(lkpsim::history(), (Lines{"op add,2,pkg.tar.gz,fix_a", "op add,-7,pkg.tar.gz,fix_b",
                                        "op rm,2,pkg.tar.gz,fix_a"}));
    EXPECT_EQ(kerneltest::take_log(), Lines{});
}

TEST_F(FsOp, EnableSwitches) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg.tar.gz", "fix_a");
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ENABLE, 0, nullptr, "fix_a"), 0);
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "enabled");
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_DISABLE, 0, nullptr, "fix_a"), 0);
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
    EXPECT_EQ(lkpsim::history(), (Lines{"enable fix_a 1", "enable fix_a 0"}));
    EXPECT_EQ(kerneltest::take_log(), Lines{});
}

TEST_F(FsOp, RefusalsShowAtTheClose) {
    lkpsim::insert_patch("fix_a");
    lkpsim::refuse_next_op();
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, 1, "pkgA", "fix_a"), -270);
    EXPECT_EQ(lkpsim::records(), Lines{});
    lkpsim::refuse_next_enable(16);
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ENABLE, 0, nullptr, "fix_a"), -270);
    EXPECT_EQ(lkpsim::history(), (Lines{"op! add,1,pkgA,fix_a", "enable! fix_a 1"}));
    EXPECT_EQ(kerneltest::take_log(), Lines{});
}

TEST_F(FsOp, TargetMissingWritesNothing) {
    struct Case {
        const char *what;
        std::function<void()> arrange;
        int op;
    };
    const std::vector<Case> cases = {
        {"patch not inserted", [] {}, tesvar::FS_OP_ENABLE},
        {"livepatch directory hidden",
         [] {
             lkpsim::insert_patch("fix_a");
             lkpsim::hide_livepatch_dir("fix_a");
         },
         tesvar::FS_OP_DISABLE},
        {"control file absent", [] { lkpsim::set_manager(lkpsim::Manager::AbsentMissing); },
         tesvar::FS_OP_ADD},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lkpsim::reset();
        c.arrange();
        const bool enable = c.op == tesvar::FS_OP_ENABLE || c.op == tesvar::FS_OP_DISABLE;
        EXPECT_EQ(tesvar::fs_op(c.op, enable ? 0 : 1, enable ? nullptr : "pkgA", "fix_a"), -262);
        EXPECT_EQ(lkpsim::history(), Lines{});
        EXPECT_EQ(kerneltest::take_log(), Lines{kerneltest::kNotExistent});
    }
}

}  // namespace
