// lkpctl started with standard descriptors closed: they are opened on
// /dev/null before anything else, so no report lands in the tool's lock
// file (or whatever file would otherwise take descriptor 0, 1 or 2).
#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

class LkpctlStandardStreamsTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (!emulator_words().empty()) {
            GTEST_SKIP() << "a user-mode emulator opens files of its own on the closed "
                            "descriptors before the program starts";
        }
    }

    // lkpctl args run by sh with the redirections given (e.g. ">&-").
    ToolRun closed(const std::string &redirections, const std::vector<std::string> &args) {
        std::vector<std::string> words{"-c", "exec \"$0\" \"$@\" " + redirections,
                                       built_program(LKPCTL_PATH)};
        for (const std::string &arg : args) {
            words.push_back(expand(arg));
        }
        return run_tool("/bin/sh", words);
    }
};

TEST_F(LkpctlStandardStreamsTest, ClosedStandardOutputNeverReachesTheLockFile) {
    build_simple("a.tar.gz", {"ext4"});
    const ToolRun run = closed(">&-", {"load", "%D/a.tar.gz"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(file_bytes("/run/lkpctl.lock"), "");
    EXPECT_EQ(lkpsim::records(), std::vector<std::string>{"1,a.tar.gz,fix_1"});
}

TEST_F(LkpctlStandardStreamsTest, AllThreeClosedStillChangeNothingElse) {
    const ToolRun run = closed("<&- >&- 2>&-", {"load", "%D/none.tar.gz"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(file_bytes("/run/lkpctl.lock"), "");
    EXPECT_TRUE(lkpsim::history("op").empty());
}

}  // namespace
}  // namespace lkptest
