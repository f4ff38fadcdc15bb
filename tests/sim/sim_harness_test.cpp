// The test fixture's own checks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "file_io.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using lkptest::KernelTest;
using lkptest::leftovers;
using lkptest::ProcessSnapshot;

class SimHarnessTest : public KernelTest {};

TEST_F(SimHarnessTest, LeftoversAreNoticed) {
    const ProcessSnapshot before = ProcessSnapshot::take();
    EXPECT_TRUE(leftovers(before).empty());
    ASSERT_EQ(mkdir("/tmp/lkp_left", 0700), 0);
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::vector<std::string> found = leftovers(before);
    rmdir("/tmp/lkp_left");
    close(fd);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found[0], "temporary directory left behind: /tmp/lkp_left");
    EXPECT_EQ(found[1], "/tmp changed");
    EXPECT_EQ(found[2].rfind("descriptor left open: " + std::to_string(fd) + " -> ", 0), 0U);
    EXPECT_TRUE(leftovers(before).empty());
}

TEST_F(SimHarnessTest, ScratchDirectoriesOfEarlierTestsAreGone) {
    EXPECT_TRUE(lkptest::directory_entries(lkpsim::scratch_root()).empty());
}

TEST_F(SimHarnessTest, ScratchDirectoryIsFreshAndOutsideTmp) {
    const std::string dir = scratch_dir();
    EXPECT_EQ(dir, scratch_dir());
    EXPECT_EQ(dir.rfind(lkpsim::scratch_root() + "/", 0), 0U);
    EXPECT_NE(dir.rfind("/tmp", 0), 0U);
    EXPECT_TRUE(simtest::is_directory(dir));
    EXPECT_TRUE(lkptest::directory_entries(dir).empty());
    EXPECT_EQ(simtest::write_text(dir + "/file", "x"), 0);
}

}  // namespace
