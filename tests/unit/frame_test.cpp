// The log channel as the system log receives it, and the bounded copies and
// formatting every formatted text of the library goes through.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
using unit::logged;

class LogTest : public lkptest::KernelTest {};

TEST_F(LogTest, EveryLevelGoesOutAtInfoWithItsPrefix) {
    const struct {
        int level;
        const char *prefix;
    } cases[] = {{0, "[LKP-INFO]:"}, {1, "[LKP-ERR]:"}, {2, "[LKP-?]:"}, {-1, "[LKP-?]:"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.level);
        tesvar::lkp_log(c.level, "LKP-LOAD:Success to load.");
        EXPECT_EQ(logged(), Lines{std::string(c.prefix) + "LKP-LOAD:Success to load.\n"});
    }
}

TEST_F(LogTest, MessageOf511CharactersIsLoggedWhole512IsDropped) {
    const std::string fits(511, 'm');
    CaptureStdout();
    tesvar::lkp_log(1, "%s", fits.c_str());
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(logged(), Lines{"[LKP-ERR]:" + fits + "\n"});

    CaptureStdout();
    tesvar::lkp_log(1, "%s%c", fits.c_str(), 'x');
    EXPECT_EQ(GetCapturedStdout(), "[LKP-ERR]:MAX_LOG_SIZE is not enough to hold data.\n");
    EXPECT_EQ(logged(), Lines{});
}

TEST_F(LogTest, MessageIsNotInterpretedTwice) {
    tesvar::lkp_log(1, "%s", "");
    tesvar::lkp_log(0, "%s", "100%s %d %n");
    tesvar::lkp_log(1, "get %s\n", "trailing");
    EXPECT_EQ(logged(),
              (Lines{"[LKP-ERR]:\n", "[LKP-INFO]:100%s %d %n\n", "[LKP-ERR]:get trailing\n\n"}));
}

constexpr int kLinesPerThread = 100;

std::string thread_line(char tag, int index) {
    char head[8];
    std::snprintf(head, sizeof head, "%c%03d:", tag, index);
    return head + std::string(400, tag);
}

void log_lines(char tag) {
    for (int i = 0; i < kLinesPerThread; ++i) {
        tesvar::lkp_log(1, "%s", thread_line(tag, i).c_str());
    }
}

TEST_F(LogTest, ConcurrentCallersGiveWholeLines) {
    std::thread first(log_lines, 'a');
    std::thread second(log_lines, 'b');
    first.join();
    second.join();
    const Lines lines = logged();
    ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
    int next[2] = {0, 0};  // each thread's lines arrive whole and in its own order
    for (const std::string &line : lines) {
        const char tag = line.size() > 10 ? line[10] : '?';
        ASSERT_TRUE(tag == 'a' || tag == 'b') << line;
        int &index = next[tag - 'a'];
        EXPECT_EQ(line, "[LKP-ERR]:" + thread_line(tag, index) + "\n");
        ++index;
    }
}

// snprintf_s(dest, destMax, count, ...) writes at most count characters and a
// NUL; a longer text or count >= destMax fails with -1 and an empty dest.
TEST(BoundedTest, SnprintfCountAndDestMaxRules) {
    const struct {
        size_t dest_max;
        size_t count;
        const char *text;
        int result;
        const char *stored;
    } cases[] = {
        {8, 7, "1234567", 7, "1234567"},  // exact fit of the buffer
        {8, 7, "12345678", -1, ""},       // one too many: no shortened text
        {8, 3, "123", 3, "123"},          // count is the limit, not destMax
        {8, 3, "1234", -1, ""},           //
        {8, 8, "1", -1, ""},              // count must leave room for the NUL
        {8, 7, "", 0, ""},                //
        {1, 0, "", 0, ""},                //
        {1, 0, "x", -1, ""},              //
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " count " + std::to_string(c.count));
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(tesvar::snprintf_s(buffer, c.dest_max, c.count, "%s", c.text), c.result);
        EXPECT_STREQ(buffer, c.stored);
        EXPECT_EQ(buffer[c.dest_max], 'Z');  // nothing beyond destMax
    }
    char untouched = 'Z';
    EXPECT_EQ(tesvar::snprintf_s(&untouched, 0, 0, "%s", ""), -1);
    EXPECT_EQ(untouched, 'Z');
    EXPECT_EQ(tesvar::snprintf_s(nullptr, 8, 7, "%s", "x"), -1);
}

TEST(BoundedTest, CopiesFailRatherThanOverrun) {
    char dest[4];
    const struct {
        size_t dest_max;
        const char *src;
        size_t count;
        int result;
        const char *stored;
    } copies[] = {
        {4, "abc", 3, 0, "abc"}, {4, "abcd", 4, ERANGE, ""},  {4, "abcd", 3, 0, "abc"},
        {4, "ab", 10, 0, "ab"},  {4, nullptr, 1, EINVAL, ""}, {1, "", 0, 0, ""},
    };
    for (const auto &c : copies) {
        SCOPED_TRACE(c.src ? c.src : "(null)");
        std::memset(dest, 'Z', sizeof dest);
        EXPECT_EQ(tesvar::strncpy_s(dest, c.dest_max, c.src, c.count), c.result);
        EXPECT_STREQ(dest, c.stored);
    }
    EXPECT_EQ(tesvar::strncpy_s(nullptr, 4, "a", 1), EINVAL);
    EXPECT_EQ(tesvar::strncpy_s(dest, 0, "a", 1), EINVAL);

    char block[8] = "abcdefg";
    EXPECT_EQ(tesvar::memcpy_s(dest, sizeof dest, "wxyz", 4), 0);
    EXPECT_EQ(std::string(dest, 4), "wxyz");
    EXPECT_EQ(tesvar::memcpy_s(dest, sizeof dest, "12345", 5), ERANGE);
    EXPECT_EQ(std::string(dest, 4), "wxyz");
    EXPECT_EQ(tesvar::memcpy_s(nullptr, 4, "a", 1), EINVAL);
    EXPECT_EQ(tesvar::memcpy_s(dest, 4, nullptr, 1), EINVAL);
    EXPECT_EQ(tesvar::memcpy_s(block + 2, 6, block, 4), EINVAL);  // overlapping areas
    EXPECT_EQ(tesvar::memcpy_s(block, 8, block + 4, 4), 0);       // adjacent, not overlapping
    EXPECT_EQ(std::memcmp(block, "efg\0efg", 8), 0);
    EXPECT_EQ(tesvar::memcpy_s(dest, 0, "a", 0), 0);
}

}  // namespace
