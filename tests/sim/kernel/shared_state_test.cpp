// The kernel block shared with a process of the other side: in the cross-built
// suite this test runs emulated (32-bit big-endian PowerPC) and the peer
// `lkpsim kernel` is the native build, so a PowerPC process writes what a
// native one reads and the reverse; natively both are the same build.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "sim_util.h"

namespace {

using simtest::Lines;

// The simulator's kernel block, whose lock is an open file description lock
// on the whole file.
constexpr const char *STATE_FILE = "/run/lkpsim/state/kernel";

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

// True once a process waits in /proc/locks for an open file description
// lock on the file with this inode ("1: -> OFDLCK ADVISORY WRITE -1 00:2b:INODE 0 EOF").
bool lock_waiter_on(ino_t inode) {
    std::istringstream locks(simtest::read_text("/proc/locks"));
    const std::string file = ":" + std::to_string(inode) + " ";
    for (std::string line; std::getline(locks, line);) {
        if (line.find("-> OFDLCK") != std::string::npos && line.find(file) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The block's lock excludes the peer: while this process holds it, the
// peer's change waits (seen in /proc/locks), and lands once it is released.
TEST_F(SharedStateTest, ThePeerWaitsForTheLockHeldHere) {
    const int fd = open(STATE_FILE, O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct stat status {};
    ASSERT_EQ(fstat(fd, &status), 0);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &whole), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Lines out;
        _exit(simtest::run({LKPSIM_PEER_PATH, "kernel", "register", "5", "pkg.tar.gz", "fix_w"},
                           &out));
    }
    bool waiting = false;
    for (int poll = 0; poll < 3000 && !waiting; ++poll) {
        waiting = lock_waiter_on(status.st_ino);
        if (!waiting) {
            usleep(10000);
        }
    }
    EXPECT_TRUE(waiting) << "the peer never waited for the lock";
    whole.l_type = F_UNLCK;
    EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &whole), 0);
    close(fd);
    int exit_status = -1;
    ASSERT_EQ(waitpid(child, &exit_status, 0), child);
    EXPECT_EQ(exit_status, 0);
    EXPECT_EQ(lkpsim::records(), (Lines{"5,pkg.tar.gz,fix_w"}));
}

}  // namespace
