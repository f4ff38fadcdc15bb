// Loading patch packages end to end: the life of a package, the checks of the
// environment and of the kernel's records, the package layout and manifest,
// and the package names the control file can carry.
#include <fcntl.h>
#include <sys/file.h>

#include <functional>
#include <ostream>

#include "load_support.h"

namespace loadtest {
namespace {

const Lines kPreloadFailed = {err("LKP-PRELOAD: Failed to preload."),
                              err("LKP-LOAD:Failed to preload.")};
const std::string kLoadFailed = err("LKP-LOAD:Failed to load.");

TEST_F(LoadTest, PackageLivesFromLoadToRemoval) {
    const std::string path = build(package({"fix_a.ko", "fix_b.ko"}));
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    expect_events({"init fix_a 0", "op add,2,hotfix_01.tar.gz,fix_a", "init fix_b 0",
                   "op add,2,hotfix_01.tar.gz,fix_b"},
                  {info("LKP-LOAD:Success to load.")});
    EXPECT_EQ(lkpsim::records(), (Lines{"2,hotfix_01.tar.gz,fix_a", "2,hotfix_01.tar.gz,fix_b"}));
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_a", "fix_b"}));

    lkpsim::clear_history();
    Lines switched_off;
    if (lkpsim::upstream_by_default()) {
        // Upstream the load enabled the patches, which keep their modules
        // until they are switched off.
        ASSERT_EQ(navo_lkp_deactivate(PKG), 0);
        EXPECT_EQ(take_log(), Lines{info("LKP-DEACTIVATE:Success to deactivate.")});
        switched_off = {"enable fix_b 0", "enable fix_a 0"};
    }
    ASSERT_EQ(navo_lkp_remove(PKG), 0);
    expect_events(switched_off + Lines{"delete fix_b 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_b",
                                       "delete fix_a 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_a"},
                  {info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

// What a killed load left in /tmp (a directory whose lock nobody holds) is
// removed by the next load, which says so; a directory whose maker still
// lives (its lock held) stays.
TEST_F(LoadTest, NextLoadRemovesWhatAKilledLoadLeftInTmp) {
    const std::string path = build(package({"fix_a.ko"}));
    char stale[] = "/tmp/lkp_XXXXXX";
    ASSERT_NE(mkdtemp(stale), nullptr);
    ASSERT_EQ(mkdir((std::string(stale) + "/unit").c_str(), 0700), 0);
    std::ofstream(std::string(stale) + "/unit/fix_a.ko") << "half";
    char live[] = "/tmp/lkp_XXXXXX";
    ASSERT_NE(mkdtemp(live), nullptr);
    const int owner = open(live, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(owner, 0);
    ASSERT_EQ(flock(owner, LOCK_EX), 0);

    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    EXPECT_EQ(lkpsim::take_log_texts(),
              (Lines{info("Removed the stale directory " + std::string(stale) + "."),
                     info("LKP-LOAD:Success to load.")}));
    EXPECT_NE(access(stale, F_OK), 0);
    EXPECT_EQ(access(live, F_OK), 0);
    close(owner);
    ASSERT_EQ(rmdir(live), 0);
}

// ---------------------------------------------------------------- environment

enum class PathKind { Package, Missing, Directory, Null };

struct EnvCase {
    const char *name;
    std::function<void()> arrange;
    PathKind path;
    int32_t rc;
    Lines history;
    Lines log;
    bool manager_after;  // tesvar inserted when the call returns
};
void PrintTo(const EnvCase &row, std::ostream *out) {
    *out << row.name;
}

class Environment : public LoadTest, public ::testing::WithParamInterface<EnvCase> {};

TEST_P(Environment, FailsBeforeAnythingIsExtracted) {
    const EnvCase &row = GetParam();
    const std::string package_path = build(package({"fix_1.ko"}));
    row.arrange();
    const Lines records = lkpsim::records();
    std::string path = scratch_dir();
    if (row.path == PathKind::Package) {
        path = package_path;
    } else if (row.path == PathKind::Missing) {
        path += "/none.tar.gz";
    }
    EXPECT_EQ(navo_lkp_load(row.path == PathKind::Null ? nullptr : path.c_str()), row.rc);
    expect_events(row.history, row.log);
    EXPECT_EQ(lkpsim::module_inserted("tesvar"), row.manager_after);
    EXPECT_EQ(lkpsim::records(), records);
}

const Lines kMissing = Lines{err("LKP-PRELOAD: The the file of pkg is missing.")} + kPreloadFailed;
const Lines kUnmanaged =
    Lines{err("load_tesvar_kcore: Failed to load tesvar.ko."),
          err("check_livepatch_env: The kernel has not been prepare for manege LKP.")} +
    kPreloadFailed;

INSTANTIATE_TEST_SUITE_P(
    Load, Environment,
    ::testing::Values(
        EnvCase{"MissingFile", [] {}, PathKind::Missing, FILE_MISSING, {}, kMissing, true},
        EnvCase{"Directory", [] {}, PathKind::Directory, FILE_MISSING, {}, kMissing, true},
        EnvCase{"NullPath", [] {}, PathKind::Null, FILE_MISSING, {}, kMissing, true},
        EnvCase{"NoStateFile",
                [] {
                    lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
                    lkpsim::set_state_file_present(false);
                },
                PathKind::Package,
                NO_LIVEPATCH,
                {},
                Lines{err("check_livepatch_env: The kernel do not support livepatch.")} +
                    kPreloadFailed,
                false},
        EnvCase{"ManagerRefused",
                [] { lkpsim::set_manager(lkpsim::Manager::AbsentRefused); },
                PathKind::Package,
                NO_LIVEPATCH,
                {"init tesvar -1"},
                kUnmanaged,
                false},
        EnvCase{"ManagerMissing",
                [] { lkpsim::set_manager(lkpsim::Manager::AbsentMissing); },
                PathKind::Package,
                NO_LIVEPATCH,
                {},
                kUnmanaged,
                false},
        EnvCase{
            "StateFileWithoutHead",
            [] { lkpsim::set_raw_state("livepatch state\n"); },
            PathKind::Package,
            INVALID_ARGUMENT,
            {},
            {err("Failed to ignore the head diff."), err("LKP-LOAD:The record is not available.")},
            true},
        // What a killed load or removal leaves makes the two files disagree:
        // a patch module without its record has a state line too many...
        EnvCase{
            "PatchModuleWithoutItsRecord",
            [] { lkpsim::insert_patch("fix_9"); },
            PathKind::Package,
            INVALID_ARGUMENT,
            {},
            {err("Failed to ignore the tail diff."), err("LKP-LOAD:The record is not available.")},
            true},
        // ...and a record without its module one too few: the trailer is
        // read as its line.
        EnvCase{"RecordWithoutItsModule",
                [] { lkpsim::register_patch(1, "other.tar.gz", "fix_9"); },
                PathKind::Package,
                INVALID_ARGUMENT,
                {},
                {err("The record is different between /proc/navo_lkp_list and "
                     "/proc/livepatch/state."),
                 err("LKP-LOAD:The record is not available.")},
                true},
        EnvCase{"ControlLineUnparsable",
                [] { lkpsim::set_raw_control("no fields\n"); },
                PathKind::Package,
                INVALID_ARGUMENT,
                {},
                {err("The record is different between /proc/navo_lkp_list and "
                     "/proc/livepatch/state."),
                 err("LKP-LOAD:The record is not available.")},
                true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LoadTest, AbsentManagerIsInsertedAndStaysWhateverTheLoadGives) {
    PackageSpec spec = package({"fix_1.ko"});
    spec.units[0].module.targets = {"nfs"};
    const std::string path = build(spec);
    for (const bool target_loaded : {true, false}) {
        SCOPED_TRACE(target_loaded ? "load succeeds" : "load fails");
        lkpsim::reset();
        lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
        lkpsim::set_target_loaded("nfs", target_loaded);
        if (target_loaded) {
            EXPECT_EQ(navo_lkp_load(path.c_str()), 0);
            expect_events(Lines{"init tesvar 0"} + installed(PKG, {"fix_1"}),
                          {info("LKP-LOAD:Success to load.")});
        } else {
            EXPECT_EQ(navo_lkp_load(path.c_str()), TARGET_NOT_LOADED);
            expect_events(
                {"init tesvar 0", "init fix_1 -65"},
                {err("The target /tmp/lkp_XXXXXX/fix_1/fix_1.ko not loaded"), kLoadFailed});
        }
        EXPECT_TRUE(lkpsim::module_inserted("tesvar"));
    }
}

TEST_F(LoadTest, LoadedPackageIsRefusedSilentlyWhateverItsStateOrDirectory) {
    const std::string path = build(package({"fix_1.ko", "fix_2.ko"}));
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    // The same base name elsewhere, and not a package at all: extracting it
    // would fail the package check with log lines.
    PackageSpec damaged;
    damaged.raw_package = "not a package\n";
    const std::string other = build(damaged, "other");
    const Lines records = lkpsim::records();
    for (const char *state : {"disabled", "enabled", "busy"}) {
        lkpsim::set_patch_state("fix_2", state);
        for (const std::string &again : {path, other}) {
            SCOPED_TRACE(std::string(state) + " " + again);
            forget_events();
            EXPECT_EQ(navo_lkp_load(again.c_str()), ALREADY_LOADED);
            expect_events({}, {});
            EXPECT_EQ(lkpsim::records(), records);
        }
    }
}

// ---------------------------------------------------------------- package names

class PackageName : public LoadTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(PackageName, ThatTheControlFileCannotCarryIsRefusedFirst) {
    const std::string path = build(package({"fix_1.ko"}, GetParam()));
    EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    expect_events({}, {err("LKP-LOAD:Failed to get pkg name.")});
    expect_no_patches();
}

INSTANTIATE_TEST_SUITE_P(Load, PackageName,
                         ::testing::Values(std::string(57, 'p') + ".tar.gz", "hot,fix.tar.gz",
                                           "hot fix.tar.gz", "hot\tfix.tar.gz", "hot\nfix.tar.gz"));

// ---------------------------------------------------------------- package check

const std::string kUnits = "fix_1.tar.gz\nfix_2.tar.gz\n";

std::string head(const std::string &count_line) {
    return "versions: 1.0\ndescription: d\ndate: 2020-01-01\n" + count_line + "\n";
}

class Layout;

struct LayoutCase {
    const char *name;
    std::function<void(PackageSpec &, Layout &)> change;  // of the two-unit package
    Lines log;                                            // before "LKP-LOAD:Failed to load."
};
void PrintTo(const LayoutCase &row, std::ostream *out) {
    *out << row.name;
}

class Layout : public LoadTest, public ::testing::WithParamInterface<LayoutCase> {
public:
    std::string single_file() { return single_file_archive("hotfix_01"); }
};

TEST_P(Layout, IsRejectedBeforeAnyModuleIsInserted) {
    PackageSpec spec = package({"fix_1.ko", "fix_2.ko"});
    GetParam().change(spec, *this);
    const std::string path = build(spec);
    EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    expect_events({}, GetParam().log + Lines{kLoadFailed});
    expect_no_patches();
}

using Spec = PackageSpec &;
using Fixture = Layout &;

const Lines kChildDir = {err("check_pkg_available: Failed to get the child dir.")};
const Lines kFormat = {err("Failed to check the patch format."),
                       err("check_pkg_available Failed.")};
const Lines kStray = Lines{err("check_file_postfix: The file is not matched.")} + kFormat;
const Lines kPatchTar = {err("check_pkg_available: Failed to get the patch tar."),
                         err("check_pkg_available Failed.")};

Lines head_fault(const std::string &message) {
    return {err("check_content_head: " + message), err("check_pkg_available Failed.")};
}

std::function<void(Spec, Fixture)> manifest(const std::string &text) {
    return [text](Spec spec, Fixture) { spec.manifest = text; };
}

INSTANTIATE_TEST_SUITE_P(
    Load, Layout,
    ::testing::Values(
        LayoutCase{"TwoTopLevelEntries",
                   [](Spec s, Fixture) {
                       s.extra_top = {{"README", "x"}};
                   },
                   kChildDir},
        // tar fails: a failed extraction has no line of its own.
        LayoutCase{
            "NotAnArchive", [](Spec s, Fixture) { s.raw_package = "not gzip, not tar\n"; }, {}},
        LayoutCase{"SingleTopLevelFile", [](Spec s, Fixture f) { s.raw_package = f.single_file(); },
                   kFormat},
        LayoutCase{"OnlyContent", [](Spec s, Fixture) { s.units.clear(); }, kFormat},
        LayoutCase{"StrayFile",
                   [](Spec s, Fixture) {
                       s.extra_in_dir = {{"README", "x"}};
                   },
                   kStray},
        LayoutCase{"BareSuffix",
                   [](Spec s, Fixture) {
                       s.extra_in_dir = {{".tar.gz", "x"}};
                   },
                   kStray},
        LayoutCase{
            "ContentMissing",
            [](Spec s, Fixture) { s.content_present = false; },
            {err("open_file: The file is not existent."), err("check_pkg_available Failed.")}},
        LayoutCase{"ThreeLines", manifest("versions: 1.0\ndescription: d\ndate: 2020-01-01\n"),
                   head_fault("Failed to getline.")},
        LayoutCase{"FirstLinesSwapped",
                   manifest("description: d\nversions: 1.0\ndate: x\nUnits List: 2\n" + kUnits),
                   head_fault("Line 0 is not versions:.")},
        LayoutCase{"CountBeforeDate",
                   manifest("versions: 1.0\ndescription: d\nUnits List: 2\ndate: x\n" + kUnits),
                   head_fault("Line 2 is not date:.")},
        LayoutCase{"KeyNotAtLineStart",
                   manifest(" versions: 1.0\ndescription: d\ndate: x\nUnits List: 2\n" + kUnits),
                   head_fault("Line 0 is not versions:.")},
        LayoutCase{"LowerCaseKey", manifest(head("units list: 2") + kUnits),
                   head_fault("Line 3 is not Units List:.")},
        LayoutCase{"CountTooHigh", manifest(head("Units List: 3") + kUnits),
                   head_fault("The total number is not match.")},
        LayoutCase{"CountWithoutDigits", manifest(head("Units List: two") + kUnits),
                   head_fault("The total number is not match.")},
        LayoutCase{"UnitFileMissing",
                   manifest(head("Units List: 2") + "fix_1.tar.gz\nfix_3.tar.gz\n"), kPatchTar},
        LayoutCase{"RepeatedName", manifest(head("Units List: 2") + "fix_1.tar.gz\nfix_1.tar.gz\n"),
                   kPatchTar},
        LayoutCase{"ShortUnitList", manifest(head("Units List: 2") + "fix_1.tar.gz\n"), kPatchTar},
        LayoutCase{"EmptyLineAfterUnits", manifest(head("Units List: 2") + kUnits + "\n"),
                   kPatchTar},
        LayoutCase{"CarriageReturns",
                   manifest("versions: 1.0\r\ndescription: d\r\ndate: x\r\nUnits List: 2\r\n"
                            "fix_1.tar.gz\r\nfix_2.tar.gz\r\n"),
                   kPatchTar},
        LayoutCase{"NoFinalLineFeed",
                   manifest(head("Units List: 2") + "fix_1.tar.gz\nfix_2.tar.gz"), kPatchTar},
        LayoutCase{"ArchiveNameOf64Bytes",
                   [](Spec s, Fixture) { s.units[1].archive = std::string(57, 'u') + ".tar.gz"; },
                   kPatchTar},
        LayoutCase{"SlashInsidePackage",
                   manifest(head("Units List: 2") + "fix_1.tar.gz\n./fix_2.tar.gz\n"), kPatchTar},
        LayoutCase{"ParentOfPackage",
                   manifest(head("Units List: 2") + "fix_1.tar.gz\n../hotfix_01/fix_2.tar.gz\n"),
                   kPatchTar},
        // From /tmp/lkp_XXXXXX/hotfix_01, "../../.." is "/": an existing regular file.
        LayoutCase{"OutsidePackage",
                   manifest(head("Units List: 2") + "fix_1.tar.gz\n../../../proc/navo_lkp_list\n"),
                   kPatchTar}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- accepted

struct AcceptedCase {
    const char *name;
    std::function<void(PackageSpec &)> change;
    std::string pkg;
    Lines patches;
};
void PrintTo(const AcceptedCase &row, std::ostream *out) {
    *out << row.name;
}

class Accepted : public LoadTest, public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(Accepted, LoadsEveryUnit) {
    const AcceptedCase &row = GetParam();
    PackageSpec spec = package({"fix_1.ko", "fix_2.ko"}, row.pkg);
    row.change(spec);
    ASSERT_EQ(navo_lkp_load(build(spec).c_str()), 0);
    expect_events(installed(row.pkg, row.patches), {info("LKP-LOAD:Success to load.")});
}

INSTANTIATE_TEST_SUITE_P(
    Load, Accepted,
    ::testing::Values(
        AcceptedCase{"SignedCountFollowedByWord",
                     [](PackageSpec &s) {
                         s.units.push_back(UnitSpec{});
                         s.units.back().module_file = "fix_3.ko";
                         s.manifest = head("Units List:  +3 word") + kUnits + "fix_3.tar.gz\n";
                     },
                     PKG,
                     {"fix_1", "fix_2", "fix_3"}},
        AcceptedCase{"CountRightAfterKey",
                     [](PackageSpec &s) { s.manifest = head("Units List:2") + kUnits; },
                     PKG,
                     {"fix_1", "fix_2"}},
        AcceptedCase{"NothingAfterKeys",
                     [](PackageSpec &s) {
                         s.manifest = "versions:\ndescription:\ndate:\nUnits List: 2\n" + kUnits;
                     },
                     PKG,
                     {"fix_1", "fix_2"}},
        AcceptedCase{"ArchiveNameOf63Bytes",
                     [](PackageSpec &s) { s.units[0].archive = std::string(56, 'u') + ".tar.gz"; },
                     PKG,
                     {"fix_1", "fix_2"}},
        AcceptedCase{"PackageNameOf63Bytes",
                     [](PackageSpec &) {},
                     std::string(56, 'p') + ".tar.gz",
                     {"fix_1", "fix_2"}},
        // The kernel's name for the module: every "-" made "_".
        AcceptedCase{"DashedModuleName",
                     [](PackageSpec &s) { s.units[1].module_file = "fs_fix-2.ko"; },
                     PKG,
                     {"fix_1", "fs_fix_2"}}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace loadtest
