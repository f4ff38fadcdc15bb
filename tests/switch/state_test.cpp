// The state query: the last patch's state word looked up exactly (after the
// state file's cut to 8 characters), and 9 for every way to have no state.
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "kernel_test.h"
#include "switch_support.h"
#include "tesvar.h"

namespace switch_test {
namespace {

struct StateCase {
    const char *label;
    Lines states;  // p1, p2 of PKG_A; q1 of PKG_B
    std::function<void()> fault;
    const char *pkg;
    int32_t expected;
    Lines log;
};

void PrintTo(const StateCase &row, std::ostream *out) {
    *out << row.label;
}

class State : public lkptest::KernelTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(State, MapsLastPatchState) {
    const StateCase &row = GetParam();
    arrange(
        {{PKG_A, "p1", row.states[0]}, {PKG_A, "p2", row.states[1]}, {PKG_B, "q1", row.states[2]}});
    row.fault();

    EXPECT_EQ(navo_lkp_state(row.pkg), row.expected);

    EXPECT_EQ(logged(), row.log);
    EXPECT_EQ(lkpsim::history(), Lines{});
}

const std::function<void()> NONE = [] {};
const std::string NOT_SAME = err("LKP-STATE: The record is not the same.");

const Lines ALL_ON{"enabled", "enabled", "enabled"};
const std::function<void()> AFTER_TRAILER = [] {
    lkpsim::set_raw_state(
        state_file("1\tp1\tenabled\n2\tp2\tenabled\n3\tq1\tenabled\nend\nmore\n"));
};
const std::function<void()> NO_STATE_FILE = [] { lkpsim::set_state_file_present(false); };
const std::function<void()> NO_MANAGER = [] {
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
};
const Lines TAIL_LOG{err("Failed to ignore the tail diff."), NOT_SAME};
const Lines NO_STATE_LOG{NOT_EXISTENT, err("Failed to open /proc/livepatch/state."), NOT_SAME};
const Lines NO_CONTROL_LOG{NOT_EXISTENT, err("Failed to open /proc/navo_lkp_list."), NOT_SAME};
const Lines NULL_LOG{err("LKP-STATE: The input parameter is NULL.")};

// Rows: label, states of p1 p2 q1, fault, name, state number, log.
const StateCase STATE_ROWS[] = {
    {"LastEnabled", {"disabled", "enabled", "disabled"}, NONE, PKG_A, 5, {}},
    {"LastDisabledOthersEnabled", {"enabled", "disabled", "enabled"}, NONE, PKG_A, 2, {}},
    {"NotLoaded", ALL_ON, NONE, "pkgC.tar.gz", 0, {}},
    {"WordOutsideTable", {"enabled", "patching", "enabled"}, NONE, PKG_A, 9, {}},
    // Cut to "disabled".
    {"LongWordCutToDisabled", {"enabled", "disabledX", "enabled"}, NONE, PKG_A, 2, {}},
    // Cut to "enabled_".
    {"LongWordCutOutsideTable", {"enabled", "enabled_now", "enabled"}, NONE, PKG_A, 9, {}},
    {"NullName", ALL_ON, NONE, nullptr, 9, NULL_LOG},
    {"LineAfterTrailer", ALL_ON, AFTER_TRAILER, PKG_A, 9, TAIL_LOG},
    {"StateFileMissing", ALL_ON, NO_STATE_FILE, PKG_A, 9, NO_STATE_LOG},
    {"ManagerAbsent", ALL_ON, NO_MANAGER, PKG_A, 9, NO_CONTROL_LOG}};

INSTANTIATE_TEST_SUITE_P(Rows, State, ::testing::ValuesIn(STATE_ROWS),
                         [](const ::testing::TestParamInfo<StateCase> &info) {
                             return std::string(info.param.label);
                         });

}  // namespace
}  // namespace switch_test
