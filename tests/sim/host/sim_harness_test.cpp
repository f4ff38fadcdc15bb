// The harness around the tests: the captured system log, the private
// namespace, and the fixture's detection of what a test leaves behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "sim_util.h"

namespace {

using lkptest::KernelTest;
using simtest::Lines;

// A second fixture, set up and torn down inside a test to watch it work.
class InnerTest : public KernelTest {
public:
    void TestBody() override {}
    using KernelTest::scratch_dir;
    using KernelTest::SetUp;
    using KernelTest::TearDown;
};

class SimHarnessTest : public KernelTest {};

TEST_F(SimHarnessTest, LogLineKeepsItsPriorityAndExactText) {
    syslog(LOG_DAEMON | LOG_ERR, "[LKP-ERR]:%s\n", "open_file: The file is not existent.");
    const std::vector<lkpsim::LogLine> lines = lkpsim::take_log();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].priority, LOG_ERR);
    EXPECT_EQ(lines[0].text, "[LKP-ERR]:open_file: The file is not existent.\n");
    EXPECT_TRUE(lkpsim::take_log().empty());
}

TEST_F(SimHarnessTest, ManyLogLinesInARowArriveInOrder) {
    Lines expected;
    for (int i = 0; i < 500; ++i) {
        syslog(LOG_INFO, "[LKP-INFO]:line %d of a burst\n", i);
        expected.push_back("[LKP-INFO]:line " + std::to_string(i) + " of a burst");
    }
    EXPECT_EQ(lkpsim::take_log_texts(), expected);
}

// The nearest ancestor outside this process's mount namespace: the parent,
// or for an emulated test the native launcher's parent.
pid_t ancestor_outside_namespace() {
    const std::string own = simtest::link_text("/proc/self/ns/mnt");
    pid_t pid = getppid();
    while (pid > 1 && simtest::link_text("/proc/" + std::to_string(pid) + "/ns/mnt") == own) {
        pid = simtest::parent_of(pid);
    }
    return pid;
}

// What a test writes to /tmp or the scratch root never shows on the host.
TEST_F(SimHarnessTest, TemporaryFilesStayInTheNamespace) {
    const std::string host_root = "/proc/" + std::to_string(ancestor_outside_namespace()) + "/root";
    ASSERT_EQ(simtest::stat_error(host_root + "/tmp"), 0);
    for (const std::string &dir : {std::string("/tmp"), lkpsim::scratch_root()}) {
        const std::string file = dir + "/lkpsim_private_" + std::to_string(getpid());
        ASSERT_EQ(simtest::write_text(file, "x"), 0);
        EXPECT_EQ(simtest::stat_error(host_root + file), ENOENT) << file;
        unlink(file.c_str());
    }
}

TEST_F(SimHarnessTest, LeftoversAreNoticed) {
    const lkptest::ProcessSnapshot before = lkptest::ProcessSnapshot::take();
    EXPECT_TRUE(lkptest::leftovers(before).empty());
    ASSERT_EQ(mkdir("/tmp/lkp_left", 0700), 0);
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const Lines found = lkptest::leftovers(before);
    rmdir("/tmp/lkp_left");
    close(fd);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found[0], "temporary directory left behind: /tmp/lkp_left");
    EXPECT_EQ(found[1], "/tmp changed");
    EXPECT_EQ(found[2].rfind("descriptor left open: " + std::to_string(fd) + " -> ", 0), 0U);
    EXPECT_TRUE(lkptest::leftovers(before).empty());
}

TEST_F(SimHarnessTest, ScratchDirectoryGoesWithItsTest) {
    InnerTest inner;
    inner.SetUp();
    const std::string dir = inner.scratch_dir();
    EXPECT_EQ(dir.rfind(lkpsim::scratch_root() + "/", 0), 0U);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    EXPECT_EQ(simtest::write_text(dir + "/sub/file", "x"), 0);
    inner.TearDown();
    EXPECT_EQ(simtest::stat_error(dir), ENOENT);
    EXPECT_TRUE(lkptest::directory_entries(lkpsim::scratch_root()).empty());
}

}  // namespace
