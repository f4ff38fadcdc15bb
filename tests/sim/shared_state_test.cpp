// The kernel block shared with a process of the other side: in the cross-built
// suite this test runs emulated (32-bit big-endian PowerPC) and the peer
// `lkpsim kernel` is the native build, so a PowerPC process writes what a
// native one reads and the reverse; natively both are the same build.
#include <sys/syscall.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "sim_util.h"

namespace {

using simtest::Lines;

Lines peer(const std::vector<std::string> &args) {
    std::vector<std::string> command = {LKPSIM_PEER_PATH, "kernel"};
    command.insert(command.end(), args.begin(), args.end());
    Lines out;
    EXPECT_EQ(simtest::run(command, &out), 0) << "lkpsim kernel failed";
    return out;
}

class SharedStateTest : public lkptest::KernelTest {};

// Numbers whose four bytes all differ, and the int32 bounds, show any byte
// order or width mismatch.
TEST_F(SharedStateTest, RecordsWrittenHereAreReadByThePeer) {
    lkpsim::register_patch(0x01020304, "pkg_a.tar.gz", "fix_a");
    lkpsim::register_patch(INT32_MIN, "pkg_a.tar.gz", "fix_b");
    lkpsim::register_patch(-2, "pkg_b.tar.gz", "fix_c");
    EXPECT_EQ(peer({"records"}),
              (Lines{"16909060,pkg_a.tar.gz,fix_a", "-2147483648,pkg_a.tar.gz,fix_b",
                     "-2,pkg_b.tar.gz,fix_c"}));
}

TEST_F(SharedStateTest, RecordsWrittenByThePeerAreReadHere) {
    lkpsim::register_patch(7, "pkg_a.tar.gz", "fix_a");
    peer({"register", "2147483647", "pkg_b.tar.gz", "fix_b"});
    peer({"register", "-16909060", "pkg_b.tar.gz", "fix_c"});
    EXPECT_EQ(lkpsim::records(), (Lines{"7,pkg_a.tar.gz,fix_a", "2147483647,pkg_b.tar.gz,fix_b",
                                        "-16909060,pkg_b.tar.gz,fix_c"}));
    EXPECT_EQ(lkpsim::patch_state("fix_c"), "disabled");
}

// The history ring (its 64-bit count included) as both sides see it, after
// module calls answered here.
TEST_F(SharedStateTest, HistoryIsTheSameOnBothSides) {
    lkpsim::insert_patch("fix_a");
    EXPECT_EQ(syscall(SYS_delete_module, "fix_a", 0x800UL), 0);
    EXPECT_EQ(syscall(SYS_delete_module, "fix_a", 0x800UL), -1);
    const Lines here = lkpsim::history();
    EXPECT_EQ(here, (Lines{"delete fix_a 0x800 0", "delete fix_a 0x800 -2"}));
    EXPECT_EQ(peer({"history"}), here);
}

}  // namespace
