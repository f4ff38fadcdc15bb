// Crashes: `lkpctl load` of a 5-unit package killed with SIGKILL at many
// points (the entry of its k-th system call, for k spread over a whole
// load), each followed by the documented recovery, `lkpctl repair`. After
// it nothing may be left: no /tmp/lkp_* directory, no patch module without
// its record, no record without its module, no partial package; and the
// package then loads whole (checked after every fifth kill).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"

namespace crash {
namespace {

constexpr int UNITS = 5;
constexpr long MIN_KILL_POINTS = 100;
// The load after the repair is the slow part: it runs after every fifth kill.
constexpr int LOAD_AGAIN_EVERY = 5;
const std::string PKG = "crash.tar.gz";

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramRun run_program_words(const std::vector<std::string> &words) {
    ProgramRun result;
    result.status = lkptest::run_words(words, &result.out, &result.err);
    return result;
}

std::vector<std::string> tmp_leftovers() {
    std::vector<std::string> found;
    for (const std::string &name : lkptest::directory_entries("/tmp")) {
        if (name.rfind("lkp_", 0) == 0) {
            found.push_back(name);
        }
    }
    return found;
}

// Every patch module has a record and every record a module; records
// either all of the package's units or none.
void expect_whole_or_nothing(const std::string &when) {
    SCOPED_TRACE(when);
    std::set<std::string> modules;
    for (const std::string &module : lkpsim::inserted_modules()) {
        if (module != "tesvar") {
            modules.insert(module);
        }
    }
    std::set<std::string> registered;
    for (const std::string &record : lkpsim::records()) {
        registered.insert(record.substr(record.rfind(',') + 1));
    }
    EXPECT_EQ(modules, registered) << "a module without its record, or a record without its module";
    EXPECT_TRUE(registered.empty() || registered.size() == UNITS) << registered.size();
    EXPECT_EQ(tmp_leftovers(), std::vector<std::string>{});
}

// What the kill left, in words, for the counts.
std::string kind_of_leftover() {
    const size_t modules = lkpsim::inserted_modules().size() - 1;  // without tesvar
    const size_t records = lkpsim::records().size();
    const bool tmp = !tmp_leftovers().empty();
    std::string kind;
    if (records == UNITS && modules == UNITS) {
        kind = "loaded whole";
    } else if (modules > records) {
        kind = "orphan module";
    } else if (records > 0) {
        kind = "partial package";
    } else {
        kind = "no patch";
    }
    return kind + (tmp ? " + /tmp/lkp_*" : "");
}

class CrashTest : public lkptest::KernelTest {
protected:
    std::string lkpctl_ = LKPCTL_PATH;
    std::string killer_ = KILLER_PATH;
};

TEST_F(CrashTest, LoadKilledAnywhereIsRepairedWhole) {
    const std::string package =
        lkpsim::build_package(lkpsim::simple_package(PKG, UNITS, "crash_"), scratch_dir());
    ASSERT_FALSE(package.empty());
    // The whole load, counted.
    const ProgramRun whole = run_program_words({killer_, "1000000000", lkpctl_, "load", package});
    if (whole.status == 77) {
        GTEST_SKIP() << "ptrace is not available here";
    }
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_EQ(whole.out.rfind("finished after ", 0), 0u) << whole.out;
    const long total = std::stol(whole.out.substr(std::string("finished after ").size()));
    ASSERT_EQ(lkpsim::records().size(), static_cast<size_t>(UNITS));
    ASSERT_GT(total, MIN_KILL_POINTS);

    std::map<std::string, int> outcomes;
    std::set<long> killed_at;
    const long step = std::max(1L, total / (MIN_KILL_POINTS + 25));
    for (long point = 1; point < total; point += step) {
        lkpsim::reset();
        const ProgramRun killed =
            run_program_words({killer_, std::to_string(point), lkpctl_, "load", package});
        ASSERT_EQ(killed.status, 0) << killed.err;
        if (killed.out.rfind("killed at ", 0) != 0) {
            continue;  // this run made fewer calls: it finished
        }
        killed_at.insert(std::stol(killed.out.substr(std::string("killed at ").size())));
        ++outcomes[kind_of_leftover()];
        const ProgramRun repair = run_program_words({lkpctl_, "repair"});
        EXPECT_EQ(repair.status, 0) << "kill point " << point << ": " << repair.out << repair.err;
        expect_whole_or_nothing("after repair, kill point " + std::to_string(point));
        if (killed_at.size() % LOAD_AGAIN_EVERY != 0) {
            continue;
        }
        const ProgramRun again = run_program_words({lkpctl_, "load", package});
        const bool was_whole = lkpsim::records().size() == UNITS && again.status == 1;
        EXPECT_TRUE(again.status == 0 || was_whole)
            << "kill point " << point << ": " << again.out << again.err;
        EXPECT_EQ(lkpsim::records().size(), static_cast<size_t>(UNITS)) << "kill point " << point;
        expect_whole_or_nothing("after the next load, kill point " + std::to_string(point));
    }
    std::string counts;
    for (const auto &[kind, count] : outcomes) {
        counts += "  " + kind + ": " + std::to_string(count) + "\n";
    }
    std::printf("%zu kill points of %ld system calls; what the kill left:\n%s", killed_at.size(),
                total, counts.c_str());
    EXPECT_GE(killed_at.size(), static_cast<size_t>(MIN_KILL_POINTS));
    const auto seen = [&](const std::string &kind) {
        return std::any_of(outcomes.begin(), outcomes.end(),
                           [&](const auto &outcome) { return outcome.first.rfind(kind, 0) == 0; });
    };
    EXPECT_TRUE(seen("orphan module")) << "the window between insertion and record";
    EXPECT_TRUE(seen("partial package"));
    lkpsim::reset();
}

}  // namespace
}  // namespace crash
