// Activation and deactivation: walk order, the skip rule (activation skips
// only when every patch is enabled, deactivation only when none is; a walk
// leaves out each patch the state file shows switched that way already),
// a patch the kernel has freed, partial switching on a failure, and the
// closing log line of each outcome. The scenes are the default kernel's,
// where a disabled patch keeps its livepatch directory; upstream the kernel
// frees it, so the rows that enable such a patch again run on the default
// model only (upstream_rules_test.cpp covers the freed patch's activation).
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "switch_support.h"
#include "tesvar.h"

namespace switch_test {
namespace {

enum class Call { Activate, Deactivate };
constexpr Call ACT = Call::Activate;
constexpr Call DEACT = Call::Deactivate;

struct SwitchCase {
    const char *label;
    Call call;
    const char *before;  // state codes of p1, p2, p3 (see words())
    std::function<void()> fault;
    const char *pkg;
    int rc;
    Lines history;
    Lines log;          // the lines before the closing line
    const char *after;  // state codes of p1, p2, p3 afterwards
    // Enables a patch that is disabled but not freed: no upstream scene.
    bool default_kernel_only = false;
};

void PrintTo(const SwitchCase &row, std::ostream *out) {
    *out << row.label;
}

// State words of the codes 'e' enabled, 'd' disabled, 'p' patching.
Lines words(const std::string &codes) {
    Lines result;
    for (char code : codes) {
        result.push_back(code == 'e' ? "enabled" : code == 'd' ? "disabled" : "patching");
    }
    return result;
}

std::string closing_line(Call call, int rc) {
    if (call == ACT) {
        return rc == 0 ? info("LKP-ACTIVATE:Success to activate.")
                       : err("LKP-ACTIVATE:Failed to activate.");
    }
    return rc == 0 ? info("LKP-DEACTIVATE:Success to deactivate.")
                   : err("LKP-DEACTIVATE:Failed to deactivate.");
}

int run(Call call, const char *pkg) {
    return call == ACT ? navo_lkp_activate(pkg) : navo_lkp_deactivate(pkg);
}

class Switch : public lkptest::KernelTest, public ::testing::WithParamInterface<SwitchCase> {};

// PKG_A is p1, p2, p3; PKG_B's q1 is the control file's last line and always
// in the opposite state of p3, so that only the package's own patches can
// decide the skip.
TEST_P(Switch, WritesSwitchesAndLogs) {
    const SwitchCase &row = GetParam();
    if (row.default_kernel_only && lkpsim::upstream_by_default()) {
        GTEST_SKIP() << "default kernel model only: upstream a disabled patch is freed and "
                        "cannot be enabled again";
    }
    const Lines before = words(row.before);
    const std::string q1 = before[2] == "enabled" ? "disabled" : "enabled";
    arrange({{PKG_A, "p1", before[0]},
             {PKG_A, "p2", before[1]},
             {PKG_A, "p3", before[2]},
             {PKG_B, "q1", q1}});
    row.fault();

    EXPECT_EQ(run(row.call, row.pkg), row.rc);

    EXPECT_EQ(lkpsim::history(), row.history);
    Lines log = row.log;
    log.push_back(closing_line(row.call, row.rc));
    EXPECT_EQ(logged(), log);
    EXPECT_EQ(
        (Lines{lkpsim::patch_state("p1"), lkpsim::patch_state("p2"), lkpsim::patch_state("p3")}),
        words(row.after));
    EXPECT_EQ(lkpsim::patch_state("q1"), q1);
}

const Lines ON{"enable p1 1", "enable p2 1", "enable p3 1"};
const Lines OFF{"enable p3 0", "enable p2 0", "enable p1 0"};
const char *const NOT_LOADED = "pkgC.tar.gz";
const Lines ON_BEFORE{info("The pkg has already been activated before.")};
const Lines OFF_BEFORE{info("The pkg has already been disactivated before.")};
const Lines NO_FILE{NOT_EXISTENT};
const Lines FREED_P2{
    err("The kernel freed the disabled patch p2: remove the package and load it again.")};
const Lines NULL_NAME{err("The input parameter is NULL.")};
const Lines NO_CONTROL{NOT_EXISTENT, err("Failed to open /proc/navo_lkp_list.")};
const Lines NO_HEAD{err("Failed to ignore the head diff.")};

const std::function<void()> NONE = [] {};
const std::function<void()> HIDE_P2 = [] { lkpsim::hide_livepatch_dir("p2"); };
const std::function<void()> REFUSE = [] { lkpsim::refuse_next_enable(); };
// A state file whose p2 line has blanks instead of TABs.
const std::function<void()> BAD_LINE = [] {
    lkpsim::set_raw_state(
        state_file("1\tp1\tenabled\n2 p2 enabled\n3\tp3\tenabled\n4\tq1\tenabled\nend\n"));
};
// A state file of one line.
const std::function<void()> ONE_LINE = [] { lkpsim::set_raw_state("livepatch state\n"); };
// p1 and p2 enabled, but the last patch p3 is not named: not loaded.
const std::function<void()> NO_P3 = [] {
    lkpsim::set_raw_state(state_file("1\tp1\tenabled\n2\tp2\tenabled\n3\tq1\tenabled\n"));
};
const std::function<void()> NO_MANAGER = [] {
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
};

// Rows: label, call, states before, fault, name, result, history, log before
// the closing line, states after.
const SwitchCase SWITCH_ROWS[] = {
    {"ActivateAllDisabled", ACT, "ddd", NONE, PKG_A, 0, ON, {}, "eee", true},
    {"ActivateOnlyLastDisabled", ACT, "eed", NONE, PKG_A, 0, {"enable p3 1"}, {}, "eee", true},
    {"ActivateSkippedAllEnabled", ACT, "eee", NONE, PKG_A, 0, {}, ON_BEFORE, "eee"},
    // Only the last patch enabled (an earlier walk stopped half-way): the
    // walk runs over every patch, writing those not enabled.
    {"ActivateLastEnabledOthersNot",
     ACT,
     "dde",
     NONE,
     PKG_A,
     0,
     {"enable p1 1", "enable p2 1"},
     {},
     "eee",
     true},
    {"ActivateOtherWord",
     ACT,
     "edp",
     NONE,
     PKG_A,
     0,
     {"enable p2 1", "enable p3 1"},
     {},
     "eee",
     true},
    {"DeactivateAllEnabled", DEACT, "eee", NONE, PKG_A, 0, OFF, {}, "ddd"},
    {"DeactivateOnlyLastEnabled", DEACT, "dde", NONE, PKG_A, 0, {"enable p3 0"}, {}, "ddd"},
    {"DeactivateSkippedNoneEnabled", DEACT, "ddd", NONE, PKG_A, 0, {}, OFF_BEFORE, "ddd"},
    {"DeactivateSkippedNoneEnabledOtherWord", DEACT, "dpd", NONE, PKG_A, 0, {}, OFF_BEFORE, "dpd"},
    // A half-failed activation left p1 enabled and p3 disabled.
    {"DeactivateFirstEnabledLastNot", DEACT, "edd", NONE, PKG_A, 0, {"enable p1 0"}, {}, "ddd"},
    {"DeactivateLastDisabledOthersNot",
     DEACT,
     "eed",
     NONE,
     PKG_A,
     0,
     {"enable p2 0", "enable p1 0"},
     {},
     "ddd"},
    {"DeactivateOtherWord",
     DEACT,
     "edp",
     NONE,
     PKG_A,
     0,
     {"enable p3 0", "enable p1 0"},
     {},
     "ddd"},
    // No livepatch directory: the kernel freed the patch; nothing is written.
    {"ActivateMissingP2", ACT, "ddd", HIDE_P2, PKG_A, -262, {}, FREED_P2, "ddd"},
    {"DeactivateMissingP2", DEACT, "eee", HIDE_P2, PKG_A, -262, {"enable p3 0"}, NO_FILE, "eed"},
    {"ActivateRefused", ACT, "ddd", REFUSE, PKG_A, -270, {"enable! p1 1"}, {}, "ddd"},
    {"DeactivateRefused", DEACT, "eee", REFUSE, PKG_A, -270, {"enable! p3 0"}, {}, "eee"},
    {"ActivateNotLoaded", ACT, "ddd", NONE, NOT_LOADED, -272, {}, {}, "ddd"},
    {"DeactivateNotLoaded", DEACT, "eee", NONE, NOT_LOADED, -272, {}, {}, "eee"},
    {"ActivateLastNotInStateFile", ACT, "ddd", NO_P3, PKG_A, -272, {}, {}, "ddd"},
    {"ActivateNullName", ACT, "ddd", NONE, nullptr, -257, {}, NULL_NAME, "ddd"},
    {"DeactivateNullName", DEACT, "eee", NONE, nullptr, -257, {}, NULL_NAME, "eee"},
    {"ActivateBadStateLine", ACT, "ddd", BAD_LINE, PKG_A, -257, {}, {MISMATCH}, "ddd"},
    {"DeactivateOneLineStateFile", DEACT, "eee", ONE_LINE, PKG_A, -257, {}, NO_HEAD, "eee"},
    {"ActivateManagerAbsent", ACT, "ddd", NO_MANAGER, PKG_A, -257, {}, NO_CONTROL, "ddd"}};

INSTANTIATE_TEST_SUITE_P(Rows, Switch, ::testing::ValuesIn(SWITCH_ROWS),
                         [](const ::testing::TestParamInfo<SwitchCase> &info) {
                             return std::string(info.param.label);
                         });

using SwitchNames = lkptest::KernelTest;

// Names are compared over 64 characters: a 63-character name matches its
// record exactly, one character more matches nothing. (Upstream the patch
// starts enabled and is switched off: a disabled one could not come back.)
TEST_F(SwitchNames, SixtyFourCharacterNameMatchesNoRecord) {
    const bool upstream = lkpsim::upstream_by_default();
    const Call call = upstream ? DEACT : ACT;
    const std::string name(63, 'n');
    const std::string write = upstream ? "enable p1 0" : "enable p1 1";
    for (const auto &[asked, rc, history] :
         {std::make_tuple(name + "x", -272, Lines{}), std::make_tuple(name, 0, Lines{write})}) {
        SCOPED_TRACE(asked.size());
        lkpsim::reset();
        arrange({{name, "p1", upstream ? "enabled" : "disabled"}});
        EXPECT_EQ(run(call, asked.c_str()), rc);
        EXPECT_EQ(lkpsim::history(), history);
        EXPECT_EQ(logged(), Lines{closing_line(call, rc)});
    }
}

}  // namespace
}  // namespace switch_test
