// File access: only existing regular files are opened (through links, never
// created), formatted paths and texts hold 1 to 1023 characters, and the
// kernel's answer to a written text arrives at the close.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "sys/file_access.h"
#include "unit_support.h"

namespace {

using tesvar::close_file;
using tesvar::open_file;
using tesvar::write_file;
using unit::err_line;
using unit::Lines;
using unit::logged;

class FileAccessTest : public lkptest::KernelTest {
protected:
    std::string path(const std::string &name) { return scratch_dir() + "/" + name; }
};

TEST_F(FileAccessTest, IsFileExistentOnlyForRegularFilesAfterLinks) {
    unit::write_text(path("file"), "x");
    ASSERT_EQ(symlink("file", path("link").c_str()), 0);
    ASSERT_EQ(symlink("missing", path("dangling").c_str()), 0);
    ASSERT_EQ(symlink(".", path("dirlink").c_str()), 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    lkpsim::insert_patch("fix_a");
    EXPECT_EQ(tesvar::is_file_existent(nullptr), 0);
    const struct {
        std::string path;
        int result;
    } cases[] = {
        {path("missing"), 0},
        {scratch_dir(), 0},
        {path("dangling"), 0},
        {path("dirlink"), 0},
        {path("fifo"), 0},
        {"/dev/null", 0},
        {path("file"), 1},
        {path("link"), 1},
        {"/proc/navo_lkp_list", 1},
        {"/proc/livepatch/state", 1},
        {"/sys/kernel/livepatch/fix_a/enabled", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(tesvar::is_file_existent(c.path.c_str()), c.result);
    }
    EXPECT_EQ(logged(), Lines{});
}

TEST_F(FileAccessTest, OpenRefusesAnythingButAnExistingRegularFileAndCreatesNothing) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    // A reader, so that a wrongly accepted FIFO fails the test instead of blocking it.
    const int reader = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    for (const std::string &target : {path("absent"), path("fifo"), scratch_dir()}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(open_file("w", "%s", target.c_str()), nullptr);
        EXPECT_EQ(logged(), Lines{err_line("open_file: The file is not existent.")});
    }
    close(reader);
    EXPECT_EQ(unit::entries(scratch_dir()), Lines{"fifo"});
}

TEST_F(FileAccessTest, FormattedPathHoldsOneTo1023Characters) {
    const std::string dir = unit::deep_dir(path("deep"), 1000);
    const std::string fits(1023 - 1001, 'f');
    const std::string over(1024 - 1001, 'o');
    unit::write_text(dir + "/" + fits, "fits");
    unit::write_text(dir + "/" + over, "over");

    FILE *stream = open_file("r", "%s/%s", dir.c_str(), fits.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(close_file(stream), 0);
    EXPECT_EQ(logged(), Lines{});

    EXPECT_EQ(open_file("r", "%s/%s", dir.c_str(), over.c_str()), nullptr);
    EXPECT_EQ(open_file("r", "%s", ""), nullptr);
    const std::string refused = err_line("open_file: Failed to vsnprintf the input parameters.");
    EXPECT_EQ(logged(), (Lines{refused, refused}));
}

TEST_F(FileAccessTest, WritingThroughALinkTruncatesTheTargetAndDeliversAtClose) {
    unit::write_text(path("target"), "old contents");
    ASSERT_EQ(symlink("target", path("link").c_str()), 0);
    FILE *stream = open_file("w", "%s", path("link").c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_file(stream, "%s,%d", "new", 7), 0);
    EXPECT_EQ(unit::read_text(path("target")), "");  // truncated, text still buffered
    EXPECT_EQ(close_file(stream), 0);
    EXPECT_EQ(unit::read_text(path("target")), "new,7");
    struct stat status {};
    ASSERT_EQ(lstat(path("link").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(logged(), Lines{});
}

TEST_F(FileAccessTest, WriteTakesOneTo1023Characters) {
    const struct {
        std::string text;
        int result;
    } cases[] = {
        {std::string(1023, 'a'), 0},
        {std::string(1024, 'b'), -260},
        {"", -260},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.size());
        unit::write_text(path("out"), "old");
        FILE *stream = open_file("w", "%s", path("out").c_str());
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(write_file(stream, "%s", c.text.c_str()), c.result);
        EXPECT_EQ(close_file(stream), 0);
        EXPECT_EQ(unit::read_text(path("out")), c.result == 0 ? c.text : "");
        EXPECT_EQ(logged(), Lines{});
    }
}

TEST_F(FileAccessTest, TextStartingWithNulIsAFailedWrite) {
    unit::write_text(path("out"), "");
    FILE *stream = open_file("w", "%s", path("out").c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_file(stream, "%c", 0), -269);
    EXPECT_EQ(close_file(stream), 0);
    EXPECT_EQ(logged(), Lines{err_line("write_file: Failed to fwrite.")});
}

// The control file and an enable switch judge the text only when the stream
// is closed: a refusal is -270 from close_file, never from write_file.
TEST_F(FileAccessTest, KernelRefusalArrivesAtClose) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "p.tar.gz", "fix_a");
    const struct {
        bool refuse;
        const char *file;
        std::string text;
        const char *kind;
        const char *seen;
    } cases[] = {
        {true, "/proc/navo_lkp_list", "add,1,q.tar.gz,fix_b", "op", "op! add,1,q.tar.gz,fix_b"},
        {false, "/proc/navo_lkp_list", "add,1,q.tar.gz,fix_b", "op", "op add,1,q.tar.gz,fix_b"},
        {true, "/sys/kernel/livepatch/fix_a/enabled", "1", "enable", "enable! fix_a 1"},
        {false, "/sys/kernel/livepatch/fix_a/enabled", "1", "enable", "enable fix_a 1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seen);
        lkpsim::clear_history();
        if (c.refuse) {
            if (std::string(c.kind) == "op") {
                lkpsim::refuse_next_op();
            } else {
                lkpsim::refuse_next_enable();
            }
        }
        FILE *stream = open_file("w", "%s", c.file);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(write_file(stream, "%s", c.text.c_str()), 0);
        EXPECT_EQ(lkpsim::history(), Lines{});
        EXPECT_EQ(close_file(stream), c.refuse ? -270 : 0);
        EXPECT_EQ(lkpsim::history(c.kind), Lines{c.seen});
    }
    EXPECT_EQ(lkpsim::records(), (Lines{"1,p.tar.gz,fix_a", "1,q.tar.gz,fix_b"}));
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "enabled");
    EXPECT_EQ(logged(), Lines{});
}

}  // namespace
