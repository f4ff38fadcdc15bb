// The kernel's files: get_patch_list reading a package's records from the
// control file, check_record_available comparing it with the state file,
// fs_op writing op lines and enable switches, and load_tesvar_kcore inserting
// the manager module that serves the control file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/consistency.h"
#include "kernel/control_file.h"
#include "kernel/modules.h"
#include "kernel/record.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kNotExistent = "[LKP-ERR]:open_file: The file is not existent.";

// "rc count names..." after get_patch_list: the count stays -1 unless written,
// and the names are what the list holds afterwards, failures included.
std::string list(const std::string &pkg) {
    tesvar::PatchList patches;
    EXPECT_TRUE(patches);
    int32_t count = -1;
    std::string listed =
        std::to_string(tesvar::get_patch_list(pkg.c_str(), patches.head(), &count));
    listed += " " + std::to_string(count);
    for (auto *at = patches.head()->next; at != patches.head(); at = at->next) {
        listed += std::string(" ") + tesvar::node_of(at)->patch_name;
    }
    return listed;
}

// The state word for 0 (followed by anything logged), else the lines logged,
// joined by " | ".
std::string check(const std::string &pkg, int expected_rc) {
    char state[tesvar::STATE_SIZE];
    std::memset(state, 'X', sizeof(state));
    EXPECT_EQ(tesvar::check_record_available(pkg.c_str(), state), expected_rc) << pkg;
    std::string logged;
    for (const std::string &line : lkpsim::take_log_texts()) {
        logged += (logged.empty() ? "" : " | ") + line;
    }
    return expected_rc == 0 ? std::string(state, strnlen(state, sizeof(state))) + logged : logged;
}

class KernelFiles : public lkptest::KernelTest {};

TEST_F(KernelFiles, GetPatchListRows) {
    const std::string pkg63(63, 'k');
    const std::string mixed = "3,pkgA,p1\n1,pkgB,q1\n3,pkgA,p2\n3,pkgA,p3\n";
    const std::string long_line = "1," + std::string(5000, 'o') + ",q1\n";  // another package
    const struct {
        std::string control, pkg, listed;
    } cases[] = {
        {mixed, "pkgA", "0 3 p1 p2 p3"},
        {mixed, "pkg", "0 0"},
        {"", "pkgA", "0 0"},
        {"1,pkgA,p1\n2,pkgA,\n3,pkgA,p3\n", "pkgA", "-257 -1 p1"},  // record without patch
        {"1,pkgA,p1\nbad\n3,pkgA,p3\n", "pkgA", "-262 -1 p1"},      // malformed line
        {"1,pkgA\n", "pkgB", "-262 -1"},                // malformed line of another package
        {"1," + pkg63 + "k,p1\n", pkg63 + "k", "0 0"},  // record name cut to 63
        {"1," + pkg63 + "k,p1\n", pkg63, "0 1 p1"},
        {"1,pkgA,p1\n" + long_line + "2,pkgA,p2\n", "pkgA", "0 2 p1 p2"},
        {long_line, std::string(63, 'o'), "0 1 q1"},     // a long line is one record
        {"1,pkgA,p1\n1,pkgA,p22", "pkgA", "0 2 p1 p2"},  // last line without newline
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.control.substr(0, 40) + " / " + c.pkg);
        lkpsim::set_raw_control(c.control);
        EXPECT_EQ(list(c.pkg), c.listed);
    }
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    EXPECT_EQ(list("pkgA"), "-262 -1");
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{kNotExistent});
}

TEST_F(KernelFiles, ConsistencyCheckShapes) {
    const std::string mismatch =
        "[LKP-ERR]:The record is different between /proc/navo_lkp_list and /proc/livepatch/state.";
    const std::string head_diff = "[LKP-ERR]:Failed to ignore the head diff.";
    const std::string tail_diff = "[LKP-ERR]:Failed to ignore the tail diff.";
    const std::string h = "livepatch state\nnum\tpatch\tstate\n";
    const std::string control = "1,pkgA,p1\n1,pkgA,p2\n1,pkgB,q1\n";
    const std::string records = h + "1\tp1\tenabled\n2\tp2\tdisabled\n3\tq1\tenabled\n";
    const std::string p1 = "1\tp1\tenabled\n";
    const struct {
        const char *what;
        std::string control, state;
        const char *pkg;
        int rc;
        std::string expected;  // the state word for 0, else the one line logged
    } cases[] = {
        {"empty control, a trailer", "", h + "end\n", "pkgA", 0, "unknown"},
        {"empty control, two more lines", "", h + p1 + "end\n", "pkgA", -257, tail_diff},
        {"last patch disabled", control, records + "end\n", "pkgA", 0, "disabled"},
        {"last patch enabled", control, records + "end\n", "pkgB", 0, "enabled"},
        {"package without records", control, records + "end\n", "pkgC", 0, "unknown"},
        {"a line after the trailer", control, records + "end\nmore\n", "pkgA", -257, tail_diff},
        {"record line without TAB", control, h + p1 + "2 p2 disabled\nend\n", "pkgB", -257,
         mismatch},
        {"trailer is not examined", "1,pkgA,p1\n", h + p1 + "2 p2\n", "pkgA", 0, "enabled"},
        {"last patch only in the trailer", "1,pkgA,p1\n", h + "1\tq1\tenabled\n" + p1, "pkgA", 0,
         "unknown"},
        {"fewer record lines, no trailer", control, h + "1\tq1\tenabled\n", "pkgB", 0, "enabled"},
        {"later matching line wins", "1,pkgA,p1\n1,pkgB,q1\n", h + p1 + "1\tp1\tdisabled\n", "pkgA",
         0, "disabled"},
        {"state word cut to 8", "1,pkgA,p1\n", h + "1\tp1\ttransition\n", "pkgA", 0, "transiti"},
        {"malformed control line", "1,pkgA,p1\nbad\n", h, "pkgA", -257, mismatch},
        {"one head line", "", "livepatch state\n", "pkgA", -257, head_diff},
        {"empty state file", "", "", "pkgA", -257, head_diff},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        lkpsim::set_raw_control(c.control);
        lkpsim::set_raw_state(c.state);
        EXPECT_EQ(check(c.pkg, c.rc), c.expected);
    }
}

TEST_F(KernelFiles, ConsistencyCheckOfGeneratedAndAbsentFiles) {
    for (const char *patch : {"p1", "p2", "q1"}) {
        lkpsim::insert_patch(patch);
    }
    lkpsim::register_patch(2, "pkgA", "p1");
    lkpsim::register_patch(2, "pkgA", "p2");
    lkpsim::register_patch(1, "pkgB", "q1");
    lkpsim::set_patch_state("p1", "enabled");
    lkpsim::set_patch_state("p2", "disabled");
    lkpsim::set_patch_state("q1", "enabled");
    EXPECT_EQ(check("pkgA", 0), "disabled");
    EXPECT_EQ(check("pkgB", 0), "enabled");
    const std::string absent = kNotExistent + " | ";
    lkpsim::set_state_file_present(false);
    EXPECT_EQ(check("pkgA", -262), absent + "[LKP-ERR]:Failed to open /proc/livepatch/state.");
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    EXPECT_EQ(check("pkgA", -262), absent + "[LKP-ERR]:Failed to open /proc/navo_lkp_list.");
}

// The kernel judges each text at the close: a refusal is -270. (Upstream the
// insertion enabled fix_a already, and once disabled it is freed: the
// refused switch is tried on another enabled patch.)
TEST_F(KernelFiles, FsOpLinesAndSwitches) {
    const bool upstream = lkpsim::upstream_by_default();
    lkpsim::insert_patch("fix_a");
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, 2, "pkg.tar.gz", "fix_a"), 0);
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, -7, "pkg.tar.gz", "fix_b"), 0);
    if (!upstream) {
        EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ENABLE, 0, nullptr, "fix_a"), 0);
    }
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "enabled");
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_DISABLE, 0, nullptr, "fix_a"), 0);
    EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_RM, 2, "pkg.tar.gz", "fix_a"), 0);
    lkpsim::refuse_next_op();
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, 1, "pkgA", "fix_c"), -270);
    if (upstream) {
        lkpsim::insert_patch("fix_e");
    }
    lkpsim::refuse_next_enable(16);
    EXPECT_EQ(tesvar::fs_op(upstream ? tesvar::FS_OP_DISABLE : tesvar::FS_OP_ENABLE, 0, nullptr,
                            upstream ? "fix_e" : "fix_a"),
              -270);
    EXPECT_EQ(lkpsim::records(), Lines{"-7,pkg.tar.gz,fix_b"});
    const Lines switched_on = upstream ? Lines{} : Lines{"enable fix_a 1"};
    const std::string refused = upstream ? "enable! fix_e 0" : "enable! fix_a 1";
    Lines expected{"op add,2,pkg.tar.gz,fix_a", "op add,-7,pkg.tar.gz,fix_b"};
    expected.insert(expected.end(), switched_on.begin(), switched_on.end());
    for (const char *line :
         {"enable fix_a 0", "op rm,2,pkg.tar.gz,fix_a", "op! add,1,pkgA,fix_c"}) {
        expected.emplace_back(line);
    }
    expected.push_back(refused);
    EXPECT_EQ(lkpsim::history(), expected);
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

TEST_F(KernelFiles, FsOpFailuresWriteNothing) {
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ENABLE, 0, nullptr, "fix_a"), -262);  // not inserted
    lkpsim::insert_patch("fix_a");
    lkpsim::hide_livepatch_dir("fix_a");
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_DISABLE, 0, nullptr, "fix_a"), -262);
    const std::string too_long(1024, 'x');  // the op line does not fit: nothing is written
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, 1, "pkgA", too_long.c_str()), -269);
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    EXPECT_EQ(tesvar::fs_op(tesvar::FS_OP_ADD, 1, "pkgA", "fix_a"), -262);
    EXPECT_EQ(lkpsim::history(), Lines{});
    EXPECT_EQ(lkpsim::take_log_texts(), Lines(3, kNotExistent));
}

TEST_F(KernelFiles, LoadTesvarKcoreInsertsTheManagerOnlyWhenItsFileIsMissing) {
    const std::string failed = "[LKP-ERR]:load_tesvar_kcore: Failed to load tesvar.ko.";
    const struct {
        lkpsim::Manager manager;
        int result;
        Lines history, log;
    } cases[] = {
        {lkpsim::Manager::Loaded, 1, {}, {}},
        {lkpsim::Manager::AbsentInsertable, 1, {"init tesvar 0"}, {}},
        {lkpsim::Manager::AbsentRefused, 0, {"init tesvar -1"}, {failed}},
        {lkpsim::Manager::AbsentMissing, 0, {}, {failed}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.manager));
        lkpsim::reset();
        lkpsim::set_manager(c.manager);
        EXPECT_EQ(tesvar::load_tesvar_kcore(), c.result);
        EXPECT_EQ(lkpsim::history(), c.history);
        EXPECT_EQ(lkpsim::take_log_texts(), c.log);
        struct stat status {};
        EXPECT_EQ(stat("/proc/navo_lkp_list", &status) == 0 && S_ISREG(status.st_mode),
                  c.result == 1);
    }
}

}  // namespace
