// check_record_available: the shapes of control file and state file it
// accepts and refuses, the state word it yields, and its messages.
#include "kernel/consistency.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/record.h"
#include "kernel_helpers.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using kerneltest::err;
using kerneltest::Lines;

const std::string kMismatch =
    err("The record is different between /proc/navo_lkp_list and /proc/livepatch/state.");
const std::string kHeadDiff = err("Failed to ignore the head diff.");
const std::string kTailDiff = err("Failed to ignore the tail diff.");

const std::string kHead = "livepatch state\nnum\tpatch\tstate\n";
const std::string kControl = "1,pkgA,p1\n1,pkgA,p2\n1,pkgB,q1\n";
const std::string kRecords = "1\tp1\tenabled\n2\tp2\tdisabled\n3\tq1\tenabled\n";

class CheckRecord : public lkptest::KernelTest {
protected:
    struct Checked {
        int rc;
        std::string state;  // only when rc is 0
    };
    static Checked check(const std::string &pkg) {
        char state[tesvar::STATE_SIZE];
        std::memset(state, 'X', sizeof(state));
        const int rc = tesvar::check_record_available(pkg.c_str(), state);
        return {rc, rc == 0 ? std::string(state, strnlen(state, sizeof(state))) : ""};
    }
};

TEST_F(CheckRecord, HandWrittenFiles) {
    struct Case {
        const char *what;
        std::string control;
        std::string records;  // the state file after its two head lines
        const char *pkg;
        int rc;
        std::string expected;  // the state word for 0, else the one line logged
    };
    const std::string p1 = "1\tp1\tenabled\n";
    const std::vector<Case> cases = {
        {"empty control, no records", "", "", "pkgA", 0, "unknown"},
        {"empty control, a trailer", "", "end\n", "pkgA", 0, "unknown"},
        {"empty control, two more lines", "", p1 + "end\n", "pkgA", -257, kTailDiff},
        {"last patch disabled", kControl, kRecords + "end\n", "pkgA", 0, "disabled"},
        {"last patch enabled", kControl, kRecords + "end\n", "pkgB", 0, "enabled"},
        {"package without records", kControl, kRecords + "end\n", "pkgC", 0, "unknown"},
        {"no trailer", kControl, kRecords, "pkgB", 0, "enabled"},
        {"a line after the trailer", kControl, kRecords + "end\nmore\n", "pkgA", -257, kTailDiff},
        {"record line without TAB", kControl, p1 + "2 p2 disabled\nend\n", "pkgB", -257, kMismatch},
        {"trailer is not examined", "1,pkgA,p1\n", p1 + "2 p2\n", "pkgA", 0, "enabled"},
        {"last patch only in the trailer", "1,pkgA,p1\n", "1\tq1\tenabled\n" + p1, "pkgA", 0,
         "unknown"},
        {"fewer record lines than records", kControl, "1\tq1\tenabled\n", "pkgB", 0, "enabled"},
        {"later matching line wins", "1,pkgA,p1\n1,pkgB,q1\n", p1 + "1\tp1\tdisabled\n", "pkgA", 0,
         "disabled"},
        {"state word cut to 8", "1,pkgA,p1\n", "1\tp1\ttransition\n", "pkgA", 0, "transiti"},
        {"malformed control line", "1,pkgA,p1\nbad\n", "", "pkgA", -257, kMismatch},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lkpsim::set_raw_control(c.control);
        lkpsim::set_raw_state(kHead + c.records);
        const Checked checked = check(c.pkg);
        EXPECT_EQ(checked.rc, c.rc);
        EXPECT_EQ(checked.state, c.rc == 0 ? c.expected : "");
        EXPECT_EQ(kerneltest::take_log(), c.rc == 0 ? Lines{} : Lines{c.expected});
    }
}

TEST_F(CheckRecord, StateFileWithoutItsHeadLines) {
    for (const char *state : {"livepatch state\n", ""}) {
        SCOPED_TRACE(state);
        lkpsim::set_raw_control("");
        lkpsim::set_raw_state(state);
        EXPECT_EQ(check("pkgA").rc, -257);
        EXPECT_EQ(kerneltest::take_log(), Lines{kHeadDiff});
    }
}

TEST_F(CheckRecord, GeneratedFilesAgree) {
    lkpsim::register_patch(2, "pkgA", "p1");
    lkpsim::register_patch(2, "pkgA", "p2");
    lkpsim::register_patch(1, "pkgB", "q1");
    lkpsim::set_patch_state("p1", "enabled");
    lkpsim::set_patch_state("q1", "enabled");
    const Checked a = check("pkgA");
    EXPECT_EQ(a.rc, 0);
    EXPECT_EQ(a.state, "disabled");
    const Checked b = check("pkgB");
    EXPECT_EQ(b.rc, 0);
    EXPECT_EQ(b.state, "enabled");
    EXPECT_EQ(kerneltest::take_log(), Lines{});
}

TEST_F(CheckRecord, FileAbsent) {
    for (const bool control_absent : {false, true}) {
        SCOPED_TRACE(control_absent ? "control file absent" : "state file absent");
        lkpsim::reset();
        if (control_absent) {
            lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
        } else {
            lkpsim::set_state_file_present(false);
        }
        EXPECT_EQ(check("pkgA").rc, -262);
        const std::string path = control_absent ? "/proc/navo_lkp_list" : "/proc/livepatch/state";
        EXPECT_EQ(kerneltest::take_log(),
                  (Lines{kerneltest::kNotExistent, err("Failed to open " + path + ".")}));
    }
}

}  // namespace
