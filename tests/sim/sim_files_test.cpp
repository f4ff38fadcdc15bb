// The kernel files: control file, state file, enabled switches, presence.
#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "file_io.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using lkptest::KernelTest;
using simtest::is_directory;
using simtest::is_regular_file;
using simtest::read_text;
using simtest::stat_error;
using simtest::write_text;
using Lines = std::vector<std::string>;

const std::string CONTROL = "/proc/navo_lkp_list";
const std::string STATE = "/proc/livepatch/state";
const std::string STATE_HEAD = "livepatch state\nnum\tpatch\tstate\n";

std::string enabled_path(const std::string &patch) {
    return "/sys/kernel/livepatch/" + patch + "/enabled";
}

class SimFilesTest : public KernelTest {};

TEST_F(SimFilesTest, DefaultKernelShowsEmptyFiles) {
    EXPECT_TRUE(is_regular_file(CONTROL));
    EXPECT_TRUE(is_regular_file(STATE));
    EXPECT_TRUE(is_directory("/sys/kernel/livepatch"));
    EXPECT_EQ(read_text(CONTROL), "");
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "end\n");
    EXPECT_EQ(lkpsim::inserted_modules(), Lines{"tesvar"});
}

TEST_F(SimFilesTest, ControlFileListsRecordsInRegistrationOrder) {
    lkpsim::register_patch(3, "pkgA", "p1");
    lkpsim::register_patch(3, "pkgA", "p2");
    lkpsim::register_patch(1, "pkgB", "q1");
    EXPECT_EQ(read_text(CONTROL), "3,pkgA,p1\n3,pkgA,p2\n1,pkgB,q1\n");
    EXPECT_EQ(read_text(STATE),
              STATE_HEAD + "1\tp1\tdisabled\n2\tp2\tdisabled\n3\tq1\tdisabled\nend\n");
    EXPECT_EQ(lkpsim::records(), (Lines{"3,pkgA,p1", "3,pkgA,p2", "1,pkgB,q1"}));
}

TEST_F(SimFilesTest, AcceptedAddAppearsInControlAndStateFile) {
    EXPECT_EQ(write_text(CONTROL, "add,2,hotfix_01.tar.gz,fix_a"), 0);
    EXPECT_EQ(lkpsim::records(), Lines{"2,hotfix_01.tar.gz,fix_a"});
    EXPECT_EQ(read_text(CONTROL), "2,hotfix_01.tar.gz,fix_a\n");
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "1\tfix_a\tdisabled\nend\n");
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
    EXPECT_EQ(lkpsim::history("op"), Lines{"op add,2,hotfix_01.tar.gz,fix_a"});
}

TEST_F(SimFilesTest, RmUnregistersTheMatchingRecord) {
    lkpsim::register_patch(2, "pkg", "fix_a");
    lkpsim::register_patch(2, "pkg", "fix_b");
    EXPECT_EQ(write_text(CONTROL, "rm,2,pkg,fix_b"), 0);
    EXPECT_EQ(lkpsim::records(), Lines{"2,pkg,fix_a"});
    EXPECT_EQ(lkpsim::history(), Lines{"op rm,2,pkg,fix_b"});
}

TEST_F(SimFilesTest, ArmedRefusalFailsTheCloseWithItsErrnoAndChangesNothing) {
    lkpsim::refuse_next_op(EIO);
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_a"), EIO);
    EXPECT_TRUE(lkpsim::records().empty());
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_a"), 0);  // the refusal is used up
    EXPECT_EQ(lkpsim::history("op"), (Lines{"op! add,1,pkg,fix_a", "op add,1,pkg,fix_a"}));
}

TEST_F(SimFilesTest, RefusalWithAKernelCodeReachesTheClose) {
    lkpsim::refuse_next_op(304);
    EXPECT_EQ(write_text(CONTROL, "rm,1,pkg,fix_a"), 304);
}

TEST_F(SimFilesTest, RefusalOfOneWordWaitsForALineOfThatWord) {
    lkpsim::refuse_next_op(EBUSY, "rm");
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_a"), 0);
    EXPECT_EQ(write_text(CONTROL, "rm,1,pkg,fix_a"), EBUSY);
    EXPECT_EQ(write_text(CONTROL, "rm,1,pkg,fix_a"), 0);
}

TEST_F(SimFilesTest, MalformedOpLinesAreRefusedWithEinval) {
    const Lines malformed = {"add,2,pkg",       "del,1,pkg,fix_a", "add,x,pkg,fix_a",
                             "add,1,,fix_a",    "add,1,pkg,",      "add,1,pkg A,fix_a",
                             "add,1,pkg,fix,a", "add 1 pkg fix_a", "add,1,pkg,fix_a\n\n"};
    for (const std::string &line : malformed) {
        EXPECT_EQ(write_text(CONTROL, line), EINVAL) << line;
    }
    EXPECT_TRUE(lkpsim::records().empty());
    EXPECT_EQ(lkpsim::history("op").size(), malformed.size());
    EXPECT_EQ(lkpsim::history("op").front(), "op! add,2,pkg");
}

TEST_F(SimFilesTest, OneTrailingNewlineIsAcceptedAndShownAsWritten) {
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_a\n"), 0);
    EXPECT_EQ(lkpsim::history("op"), Lines{"op add,1,pkg,fix_a\\n"});
}

TEST_F(SimFilesTest, RmOfUnknownRecordAndDuplicateAddAreRefused) {
    lkpsim::register_patch(1, "pkg", "fix_a");
    EXPECT_EQ(write_text(CONTROL, "rm,1,pkg,fix_b"), EINVAL);
    EXPECT_EQ(write_text(CONTROL, "rm,1,other,fix_a"), EINVAL);
    EXPECT_EQ(write_text(CONTROL, "add,1,other,fix_a"), EINVAL);
    EXPECT_EQ(lkpsim::records(), Lines{"1,pkg,fix_a"});
}

TEST_F(SimFilesTest, EachOpenIsJudgedOnItsOwn) {
    FILE *first = std::fopen(CONTROL.c_str(), "w");
    FILE *second = std::fopen(CONTROL.c_str(), "w");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::fputs("add,1,pkg,", first);
    std::fputs("add,1,pkg,fix_b", second);
    std::fflush(first);
    std::fputs("fix_a", first);
    EXPECT_EQ(std::fclose(second), 0);
    EXPECT_EQ(std::fclose(first), 0);
    EXPECT_EQ(lkpsim::records(), (Lines{"1,pkg,fix_b", "1,pkg,fix_a"}));
}

TEST_F(SimFilesTest, NothingWrittenNothingJudged) {
    FILE *stream = std::fopen(CONTROL.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(std::fclose(stream), 0);
    EXPECT_TRUE(lkpsim::history().empty());
}

TEST_F(SimFilesTest, StateFileIsNotWritable) {
    EXPECT_EQ(write_text(STATE, "x"), EACCES);
}

TEST_F(SimFilesTest, EnableSwitchChangesTheStateWord) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg", "fix_a");
    EXPECT_EQ(read_text(enabled_path("fix_a")), "0\n");
    EXPECT_EQ(write_text(enabled_path("fix_a"), "1"), 0);
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "enabled");
    EXPECT_EQ(read_text(enabled_path("fix_a")), "1\n");
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "1\tfix_a\tenabled\nend\n");
    EXPECT_EQ(write_text(enabled_path("fix_a"), "0"), 0);
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
    EXPECT_EQ(lkpsim::history("enable"), (Lines{"enable fix_a 1", "enable fix_a 0"}));
}

TEST_F(SimFilesTest, RefusedEnableFailsTheCloseAndKeepsTheState) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg", "fix_a");
    lkpsim::refuse_next_enable(EBUSY);
    EXPECT_EQ(write_text(enabled_path("fix_a"), "1"), EBUSY);
    EXPECT_EQ(write_text(enabled_path("fix_a"), "2"), EINVAL);
    EXPECT_EQ(write_text(enabled_path("fix_a"), "11"), EINVAL);
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
    EXPECT_EQ(lkpsim::history("enable"),
              (Lines{"enable! fix_a 1", "enable! fix_a 2", "enable! fix_a 11"}));
}

TEST_F(SimFilesTest, LivepatchDirectoryFollowsTheModule) {
    const std::string dir = "/sys/kernel/livepatch/fix_a";
    EXPECT_EQ(stat_error(dir), ENOENT);
    lkpsim::insert_patch("fix_a", {"vmlinux", "ext4"});
    EXPECT_TRUE(is_directory(dir));
    EXPECT_TRUE(is_directory(dir + "/vmlinux"));
    EXPECT_TRUE(is_directory(dir + "/ext4"));
    EXPECT_EQ(stat_error(dir + "/nfs"), ENOENT);
    struct stat status {};
    ASSERT_EQ(stat(enabled_path("fix_a").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, static_cast<mode_t>(S_IFREG | 0644));
    EXPECT_EQ(lkptest::directory_entries("/sys/kernel/livepatch"), std::set<std::string>{"fix_a"});
    EXPECT_EQ(lkptest::directory_entries(dir),
              (std::set<std::string>{"enabled", "vmlinux", "ext4"}));
    lkpsim::hide_livepatch_dir("fix_a");
    EXPECT_EQ(stat_error(dir), ENOENT);
    EXPECT_EQ(write_text(enabled_path("fix_a"), "1"), ENOENT);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
}

TEST_F(SimFilesTest, AbsentManagerHasNoControlFile) {
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    EXPECT_EQ(stat_error(CONTROL), ENOENT);
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_a"), EACCES);
    EXPECT_EQ(lkptest::directory_entries("/proc").count("navo_lkp_list"), 0U);
    EXPECT_EQ(stat_error(lkpsim::manager_module_path()), ENOENT);
    EXPECT_FALSE(lkpsim::module_inserted("tesvar"));
    lkpsim::set_manager(lkpsim::Manager::Loaded);
    EXPECT_TRUE(is_regular_file(CONTROL));
    EXPECT_EQ(lkptest::directory_entries("/proc").count("navo_lkp_list"), 1U);
}

TEST_F(SimFilesTest, StateFileCanBeAbsent) {
    lkpsim::set_state_file_present(false);
    EXPECT_EQ(stat_error(STATE), ENOENT);
    EXPECT_EQ(stat_error("/proc/livepatch"), ENOENT);
    lkpsim::set_state_file_present(true);
    EXPECT_TRUE(is_regular_file(STATE));
}

TEST_F(SimFilesTest, RawTextsReplaceTheGeneratedOnes) {
    lkpsim::register_patch(1, "pkg", "fix_a");
    lkpsim::set_raw_control("not,a\nrecord");
    lkpsim::set_raw_state("one line\n");
    EXPECT_EQ(read_text(CONTROL), "not,a\nrecord");
    EXPECT_EQ(read_text(STATE), "one line\n");
    lkpsim::set_raw_control("");
    EXPECT_EQ(read_text(CONTROL), "");
    lkpsim::clear_raw();
    EXPECT_EQ(read_text(CONTROL), "1,pkg,fix_a\n");
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "1\tfix_a\tdisabled\nend\n");
}

TEST_F(SimFilesTest, LongControlFileReadsWhole) {
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string patch = "patch_number_" + std::to_string(i);
        lkpsim::register_patch(i, "a_rather_long_package_name.tar.gz", patch);
        expected += std::to_string(i) + ",a_rather_long_package_name.tar.gz," + patch + "\n";
    }
    EXPECT_EQ(read_text(CONTROL), expected);
}

TEST_F(SimFilesTest, ResetRestoresTheDefaultKernel) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg", "fix_a");
    lkpsim::set_patch_state("fix_a", "enabled");
    lkpsim::set_target_loaded("nfs", false);
    lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
    lkpsim::set_state_file_present(false);
    lkpsim::set_raw_state("x");
    lkpsim::refuse_next_op(EIO);
    lkpsim::refuse_next_enable(EIO);
    lkpsim::fail_next_init(EIO);
    lkpsim::fail_next_delete(EIO);
    syslog(LOG_INFO, "before reset");

    lkpsim::reset();
    EXPECT_EQ(lkpsim::inserted_modules(), Lines{"tesvar"});
    EXPECT_TRUE(lkpsim::records().empty());
    EXPECT_TRUE(lkpsim::history().empty());
    EXPECT_TRUE(lkpsim::take_log().empty());
    EXPECT_EQ(stat_error(lkpsim::manager_module_path()), ENOENT);
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "end\n");
    EXPECT_EQ(stat_error("/sys/kernel/livepatch/fix_a"), ENOENT);
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_a"), 0);  // no refusal armed
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
}

}  // namespace
