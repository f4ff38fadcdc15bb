// Removing a loaded package, newest patch first, and the trial loads
// (preload and validate) that load a package and remove it again. On the
// upstream kernel an inserted patch is enabled and an enabled package cannot
// be removed: the removals there start from pkgA switched off, and the trial
// loads switch their package off before removing it.
#include <cerrno>
#include <fstream>
#include <functional>
#include <ostream>

#include "load_support.h"

namespace loadtest {
namespace {

const std::string kRemoveFailed = err("LKP-REMOVE:Failed to remove.");
const std::string kWriteFailed = err("Failed to write to /proc/navo_lkp_list.");
const std::string kPkgA = "pkgA.tar.gz";

// pkgA is p1, p2, p3, registered with the number 3; pkgB is q1.
class Removal : public LoadTest {
protected:
    void SetUp() override {
        LoadTest::SetUp();
        arrange_loaded(kPkgA, {"p1", "p2", "p3"}, 3);
        arrange_loaded("pkgB.tar.gz", {"q1"}, 1);
        if (upstream_kernel()) {
            ASSERT_EQ(navo_lkp_deactivate(kPkgA.c_str()), 0);
        }
        forget_events();
    }
    // pkgA's patches removed in this order, each "rm" line with this count.
    static Lines removed(int count, const Lines &patches) {
        Lines lines;
        for (const std::string &patch : patches) {
            lines.push_back("delete " + patch + " 0x880 0");
            lines.push_back("op rm," + std::to_string(count) + "," + kPkgA + "," + patch);
        }
        return lines;
    }
    static Lines records_of_a(const Lines &patches) {
        Lines records;
        for (const std::string &patch : patches) {
            records.push_back("3," + kPkgA + "," + patch);
        }
        return records + Lines{"1,pkgB.tar.gz,q1"};
    }
};

TEST_F(Removal, RefusedBeforeAnythingIsTouched) {
    struct Row {
        const char *name;
        const char *pkg;
        std::function<void()> arrange;
        int32_t rc;
        Lines log;
    };
    const Row rows[] = {
        {"null name",
         nullptr,
         [] {},
         INVALID_ARGUMENT,
         {err("The input parameter is NULL."), kRemoveFailed}},
        {"not loaded", "pkgC.tar.gz", [] {}, NO_PATCHES, {kRemoveFailed}},
        {"prefix of a loaded name", "pkgA", [] {}, NO_PATCHES, {kRemoveFailed}},
        {"records inconsistent",
         "pkgA.tar.gz",
         [] { lkpsim::set_raw_state("head only\n"); },
         INVALID_ARGUMENT,
         {err("Failed to ignore the head diff."), kRemoveFailed}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        row.arrange();
        EXPECT_EQ(navo_lkp_remove(row.pkg), row.rc);
        expect_events({}, row.log);
        lkpsim::clear_raw();
        EXPECT_EQ(lkpsim::records(), records_of_a({"p1", "p2", "p3"}));
    }
}

// An enabled package goes without being switched off first; pkgB stays.
// Default kernel only: upstream refuses it (upstream_rules_test.cpp,
// RemovalOfAnEnabledPackageIsRefusedAtOnce).
TEST_F(Removal, EnabledPackageGoesWithoutDeactivation) {
    if (upstream_kernel()) {
        GTEST_SKIP() << "default kernel model only: upstream an enabled package is not removable";
    }
    for (const char *patch : {"p1", "p2", "p3"}) {
        lkpsim::set_patch_state(patch, "enabled");
    }
    EXPECT_EQ(navo_lkp_remove(kPkgA.c_str()), 0);
    expect_events(removed(3, {"p3", "p2", "p1"}),
                  {info("LKP-REMOVE:Success to remove the pkgA.tar.gz")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,pkgB.tar.gz,q1"});
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "q1"}));
}

// What is removed stays removed; a second removal counts the records left.
// (EPERM: a refusal that waiting does not change.)
TEST_F(Removal, KernelRefusingAModuleStopsTheRemoval) {
    lkpsim::fail_next_delete(EPERM, "p2");
    EXPECT_EQ(navo_lkp_remove(kPkgA.c_str()), -EPERM);
    expect_events({"delete p3 0x880 0", "op rm,3,pkgA.tar.gz,p3", "delete p2 0x880 -1"},
                  {kRemoveFailed});
    EXPECT_EQ(lkpsim::records(), records_of_a({"p1", "p2"}));
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "p1", "p2", "q1"}));

    lkpsim::clear_history();
    EXPECT_EQ(navo_lkp_remove(kPkgA.c_str()), 0);
    expect_events(removed(2, {"p2", "p1"}), {info("LKP-REMOVE:Success to remove the pkgA.tar.gz")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,pkgB.tar.gz,q1"});
}

// The module of p3 is gone but its record stays. Once the missing "rm" line
// is written, the next removal takes the rest.
TEST_F(Removal, RefusedRmLineThenModuleAlreadyGone) {
    lkpsim::refuse_next_op(EINVAL);
    EXPECT_EQ(navo_lkp_remove(kPkgA.c_str()), CLOSE_FAILED);
    expect_events({"delete p3 0x880 0", "op! rm,3,pkgA.tar.gz,p3"}, {kWriteFailed, kRemoveFailed});
    EXPECT_EQ(lkpsim::records(), records_of_a({"p1", "p2", "p3"}));
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "p1", "p2", "q1"}));

    // p3's record now has no module, and the state file no line for it: the
    // files disagree, and every call stops at its check and changes nothing
    // (the operator's tool writes the missing "rm" line).
    lkpsim::clear_history();
    EXPECT_EQ(navo_lkp_remove(kPkgA.c_str()), INVALID_ARGUMENT);
    expect_events({}, {err("The record is different between /proc/navo_lkp_list and "
                           "/proc/livepatch/state."),
                       kRemoveFailed});
    EXPECT_EQ(lkpsim::records(), records_of_a({"p1", "p2", "p3"}));

    std::ofstream("/proc/navo_lkp_list") << "rm,3," << kPkgA << ",p3\n";
    ASSERT_EQ(lkpsim::records(), records_of_a({"p1", "p2"}));
    lkpsim::clear_history();
    EXPECT_EQ(navo_lkp_remove(kPkgA.c_str()), 0);
    expect_events(removed(2, {"p2", "p1"}), {info("LKP-REMOVE:Success to remove the pkgA.tar.gz")});
    EXPECT_EQ(lkpsim::records(), Lines{"1,pkgB.tar.gz,q1"});
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "q1"}));
}

// ---------------------------------------------------------------- trial loads

struct TrialEntry {
    const char *name;
    int32_t (*call)(const char *);
};
void PrintTo(const TrialEntry &entry, std::ostream *out) {
    *out << entry.name;
}

class Trial : public LoadTest, public ::testing::WithParamInterface<TrialEntry> {
protected:
    int32_t trial(const std::string &path) { return GetParam().call(path.c_str()); }
};

TEST_P(Trial, LoadablePackageIsLoadedAndRemovedAgain) {
    EXPECT_EQ(trial(build(package({"fix_1.ko", "fix_2.ko"}))), 0);
    expect_events(installed(PKG, {"fix_1", "fix_2"}) + switched_off_first({"fix_2", "fix_1"}) +
                      Lines{"delete fix_2 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_2",
                            "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"},
                  Lines{info("LKP-LOAD:Success to load.")} + deactivated_log() +
                      Lines{info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

TEST_P(Trial, LoadedPackageIsLeftAlone) {
    const std::string path = build(package({"fix_1.ko"}));
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    forget_events();
    EXPECT_EQ(trial(path), 0);
    expect_events({}, {});
    EXPECT_EQ(lkpsim::records(), Lines{"1,hotfix_01.tar.gz,fix_1"});
}

TEST_P(Trial, NullPathIsRefused) {
    EXPECT_EQ(GetParam().call(nullptr), INVALID_ARGUMENT);
    expect_events({}, {err("LKP-LOAD:Failed to get pkg name.")});
}

TEST_P(Trial, FailuresArePassedOn) {
    PackageSpec spec = package({"fix_1.ko"});
    spec.units[0].module.targets = {"nfs"};
    const std::string path = build(spec);
    lkpsim::set_target_loaded("nfs", false);
    EXPECT_EQ(trial(path), TARGET_NOT_LOADED);
    expect_events({"init fix_1 -65"}, {err("The target /tmp/lkp_XXXXXX/fix_1/fix_1.ko not loaded"),
                                       err("LKP-LOAD:Failed to load.")});

    lkpsim::clear_history();
    EXPECT_EQ(trial(path + ".missing"), FILE_MISSING);
    expect_events({}, {err("LKP-PRELOAD: The the file of pkg is missing."),
                       err("LKP-PRELOAD: Failed to preload."), err("LKP-LOAD:Failed to preload.")});

    // The removal after a successful load fails: its result, and the package stays.
    lkpsim::set_target_loaded("nfs", true);
    lkpsim::fail_next_delete(EPERM, "fix_1");
    lkpsim::clear_history();
    EXPECT_EQ(trial(path), -EPERM);
    expect_events(
        installed(PKG, {"fix_1"}) + switched_off_first({"fix_1"}) + Lines{"delete fix_1 0x880 -1"},
        Lines{info("LKP-LOAD:Success to load.")} + deactivated_log() + Lines{kRemoveFailed});
    EXPECT_EQ(lkpsim::records(), Lines{"1,hotfix_01.tar.gz,fix_1"});
}

INSTANTIATE_TEST_SUITE_P(Load, Trial,
                         ::testing::Values(TrialEntry{"Preload", navo_lkp_preload},
                                           TrialEntry{"Validate", navo_lkp_validate}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace loadtest
