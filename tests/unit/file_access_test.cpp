// File access: only existing regular files are opened (through links, never
// created), and formatted paths and texts hold 1 to 1023 characters.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kernel_test.h"
#include "sys/file_access.h"
#include "unit_support.h"

namespace {

using tesvar::close_file;
using tesvar::open_file;
using tesvar::write_file;
using unit::Lines;

class FileAccessTest : public lkptest::KernelTest {
protected:
    std::string path(const std::string &name) { return scratch_dir() + "/" + name; }
};

TEST_F(FileAccessTest, OnlyExistingRegularFilesAreOpenedAndNoneIsCreated) {
    unit::write_text(path("file"), "x");
    ASSERT_EQ(symlink("file", path("link").c_str()), 0);
    ASSERT_EQ(symlink("missing", path("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    // A reader, so that a wrongly accepted FIFO fails the test instead of blocking it.
    const int reader = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(tesvar::is_file_existent(nullptr), 0);
    for (const std::string &target :
         {path("file"), path("link"), std::string("/proc/navo_lkp_list")}) {
        EXPECT_EQ(tesvar::is_file_existent(target.c_str()), 1) << target;
    }
    for (const std::string &target :
         {path("absent"), scratch_dir(), path("dangling"), path("fifo")}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(tesvar::is_file_existent(target.c_str()), 0);
        EXPECT_EQ(open_file("w", "%s", target.c_str()), nullptr);
        EXPECT_EQ(lkpsim::take_log_texts(),
                  Lines{"[LKP-ERR]:open_file: The file is not existent."});
    }
    close(reader);
    EXPECT_EQ(lkptest::directory_entries(scratch_dir()),
              (std::set<std::string>{"dangling", "fifo", "file", "link"}));
}

TEST_F(FileAccessTest, FormattedPathHoldsOneTo1023Characters) {
    const std::string fits = unit::deep_dir(path("deep"), 1000) + "/" + std::string(22, 'f');
    unit::write_text(fits, "");
    unit::write_text(fits + "o", "");
    FILE *stream = open_file("r", "%s", fits.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(close_file(stream), 0);
    EXPECT_EQ(open_file("r", "%s", (fits + "o").c_str()), nullptr);
    EXPECT_EQ(open_file("r", "%s", ""), nullptr);
    const std::string refused = "[LKP-ERR]:open_file: Failed to vsnprintf the input parameters.";
    EXPECT_EQ(lkpsim::take_log_texts(), (Lines{refused, refused}));
}

// A text reaches the file (here through a link) only at the close.
TEST_F(FileAccessTest, WriteTakesOneTo1023Characters) {
    ASSERT_EQ(symlink("out", path("link").c_str()), 0);
    for (const auto &[text, result] : std::vector<std::pair<std::string, int>>{
             {std::string(1023, 'a'), 0}, {std::string(1024, 'b'), -260}, {"", -260}}) {
        SCOPED_TRACE(text.size());
        unit::write_text(path("out"), "old");
        FILE *stream = open_file("w", "%s", path("link").c_str());
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(write_file(stream, "%s", text.c_str()), result);
        EXPECT_EQ(unit::read_text(path("out")), "");
        EXPECT_EQ(close_file(stream), 0);
        EXPECT_EQ(unit::read_text(path("out")), result == 0 ? text : "");
    }
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
    FILE *stream = open_file("w", "%s", path("out").c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_file(stream, "%c", 0), -269);  // a text starting with NUL writes nothing
    EXPECT_EQ(close_file(stream), 0);
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{"[LKP-ERR]:write_file: Failed to fwrite."});
}

// The kernel judges a written text only at the close: a refusal is -270 there.
TEST_F(FileAccessTest, KernelRefusalArrivesAtClose) {
    lkpsim::refuse_next_op();
    FILE *stream = open_file("w", "%s", "/proc/navo_lkp_list");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_file(stream, "%s", "add,1,q.tar.gz,fix_b"), 0);
    EXPECT_EQ(lkpsim::history(), Lines{});
    EXPECT_EQ(close_file(stream), -270);
    EXPECT_EQ(lkpsim::history(), Lines{"op! add,1,q.tar.gz,fix_b"});
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

}  // namespace
