// The captured system log.
#include <syslog.h>

#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using lkptest::KernelTest;
using Lines = std::vector<std::string>;

class SimLogTest : public KernelTest {};

TEST_F(SimLogTest, LineKeepsItsPriorityAndExactText) {
    syslog(6, "[LKP-INFO]:%s\n", "LKP-LOAD:Success to load.");
    const std::vector<lkpsim::LogLine> lines = lkpsim::take_log();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].priority, 6);
    EXPECT_EQ(lines[0].text, "[LKP-INFO]:LKP-LOAD:Success to load.\n");
}

TEST_F(SimLogTest, FacilityBitsAreRemoved) {
    syslog(LOG_DAEMON | LOG_ERR, "daemon error");
    syslog(LOG_LOCAL7 | LOG_DEBUG, "local debug: with a colon");
    const std::vector<lkpsim::LogLine> lines = lkpsim::take_log();
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].priority, LOG_ERR);
    EXPECT_EQ(lines[0].text, "daemon error");
    EXPECT_EQ(lines[1].priority, LOG_DEBUG);
    EXPECT_EQ(lines[1].text, "local debug: with a colon");
}

TEST_F(SimLogTest, TextsLoseOnlyTheNewlineOfTheFormat) {
    syslog(LOG_INFO, "[LKP-ERR]:%s\n", "message ending in a newline\n");
    syslog(LOG_INFO, "[LKP-ERR]:%s\n", "");
    syslog(LOG_INFO, "no newline");
    EXPECT_EQ(lkpsim::take_log_texts(),
              (Lines{"[LKP-ERR]:message ending in a newline\n", "[LKP-ERR]:", "no newline"}));
}

TEST_F(SimLogTest, ManyLinesInARowArriveInOrder) {
    for (int i = 0; i < 50; ++i) {
        syslog(LOG_INFO, "line %d\n", i);
    }
    const Lines texts = lkpsim::take_log_texts();
    ASSERT_EQ(texts.size(), 50U);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(texts[static_cast<std::size_t>(i)], "line " + std::to_string(i));
    }
}

TEST_F(SimLogTest, TakingEmptiesTheCapture) {
    syslog(LOG_INFO, "once");
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{"once"});
    EXPECT_TRUE(lkpsim::take_log().empty());
}

TEST_F(SimLogTest, LongMessageArrivesWhole) {
    const std::string text(511, 'x');
    syslog(LOG_INFO, "[LKP-INFO]:%s\n", text.c_str());
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{"[LKP-INFO]:" + text});
}

TEST_F(SimLogTest, LinesOfProgramsInTheNamespaceAreCaptured) {
    char helper[] = SIM_MODULE_CALL;
    char log[] = "log";
    char text[] = "from a subprocess";
    char *argv[] = {helper, log, text, nullptr};
    syslog(LOG_INFO, "before");
    ASSERT_EQ(lkpsim::run_program(argv), 0);
    syslog(LOG_INFO, "after");
    EXPECT_EQ(lkpsim::take_log_texts(), (Lines{"before", "from a subprocess", "after"}));
}

}  // namespace
