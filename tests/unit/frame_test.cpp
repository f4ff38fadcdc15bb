// The log channel as the system log receives it, and the bounded copies and
// formatting every formatted text of the library goes through.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "frame/bounded.h"
#include "frame/log.h"
#include "kernel_test.h"
#include "unit_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using unit::Lines;

class LogTest : public lkptest::KernelTest {};

// Every level goes out at LOG_INFO with its prefix; the message is formatted
// once and its text never interpreted again.
TEST_F(LogTest, LevelPrefixesAtInfoPriority) {
    tesvar::lkp_log(0, "%s", "100%s %d %n");
    tesvar::lkp_log(1, "get %s\n", "x");
    tesvar::lkp_log(2, "%s", "");
    tesvar::lkp_log(-1, "m");
    std::string seen;  // priority and text of each line
    for (const lkpsim::LogLine &line : lkpsim::take_log()) {
        seen += std::to_string(line.priority) + " " + line.text;
    }
    EXPECT_EQ(seen, "6 [LKP-INFO]:100%s %d %n\n6 [LKP-ERR]:get x\n\n6 [LKP-?]:\n6 [LKP-?]:m\n");
}

TEST_F(LogTest, MessageOf511CharactersIsLoggedWhole512IsDropped) {
    const std::string fits(511, 'm');
    CaptureStdout();
    tesvar::lkp_log(1, "%s", fits.c_str());
    tesvar::lkp_log(1, "%s%c", fits.c_str(), 'x');
    EXPECT_EQ(GetCapturedStdout(), "[LKP-ERR]:MAX_LOG_SIZE is not enough to hold data.\n");
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{"[LKP-ERR]:" + fits});
}

TEST_F(LogTest, TwoThreadsGiveWholeLines) {
    const auto log_lines = [](char tag) {
        for (int i = 0; i < 100; ++i) {
            tesvar::lkp_log(1, "%s", std::string(500, tag).c_str());
        }
    };
    std::thread first(log_lines, 'a');
    std::thread second(log_lines, 'b');
    first.join();
    second.join();
    std::map<std::string, int> seen;
    for (const std::string &line : lkpsim::take_log_texts()) {
        ++seen[line];
    }
    EXPECT_EQ(seen, (std::map<std::string, int>{{"[LKP-ERR]:" + std::string(500, 'a'), 100},
                                                {"[LKP-ERR]:" + std::string(500, 'b'), 100}}));
}

// snprintf_s(dest, destMax, count, ...) writes at most count characters and a
// NUL; a longer text or count >= destMax fails with -1 and an empty dest.
TEST(BoundedTest, SnprintfCountAndDestMaxRules) {
    const struct {
        size_t dest_max, count;
        const char *text;
        int result;
    } cases[] = {
        {8, 7, "1234567", 7}, {8, 7, "12345678", -1}, {8, 3, "1234", -1},
        {8, 8, "1", -1},      {1, 0, "", 0},          {1, 0, "x", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " count " + std::to_string(c.count));
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(tesvar::snprintf_s(buffer, c.dest_max, c.count, "%s", c.text), c.result);
        EXPECT_STREQ(buffer, c.result < 0 ? "" : c.text);
        EXPECT_EQ(buffer[c.dest_max], 'Z');  // nothing beyond destMax
    }
    char untouched = 'Z';
    EXPECT_EQ(tesvar::snprintf_s(&untouched, 0, 0, "%s", ""), -1);
    EXPECT_EQ(untouched, 'Z');
    EXPECT_EQ(tesvar::snprintf_s(nullptr, 8, 7, "%s", "x"), -1);
}

TEST(BoundedTest, CopiesFailRatherThanOverrun) {
    char dest[4];
    EXPECT_EQ(tesvar::strncpy_s(dest, sizeof dest, "abcd", 3), 0);  // count limits the copy
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(tesvar::strncpy_s(dest, sizeof dest, "abcd", 4), ERANGE);  // no shortened copy
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(tesvar::strncpy_s(dest, sizeof dest, "abc", 3), 0);
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(tesvar::strncpy_s(dest, sizeof dest, nullptr, 1), EINVAL);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(tesvar::strncpy_s(nullptr, 4, "a", 1), EINVAL);
    EXPECT_EQ(tesvar::strncpy_s(dest, 0, "a", 1), EINVAL);

    EXPECT_EQ(tesvar::memcpy_s(dest, sizeof dest, "wxyz", 4), 0);
    EXPECT_EQ(tesvar::memcpy_s(dest, sizeof dest, "12345", 5), ERANGE);
    EXPECT_EQ(std::string(dest, 4), "wxyz");
    EXPECT_EQ(tesvar::memcpy_s(nullptr, 4, "a", 1), EINVAL);
    char block[8] = "abcdefg";
    EXPECT_EQ(tesvar::memcpy_s(block + 2, 6, block, 4), EINVAL);  // overlapping areas
    EXPECT_EQ(tesvar::memcpy_s(block, 8, block + 4, 4), 0);       // adjacent, not overlapping
    EXPECT_EQ(std::memcmp(block, "efg\0efg", 8), 0);
}

}  // namespace
