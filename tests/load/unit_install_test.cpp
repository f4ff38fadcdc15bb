// Installing the units of a package: every way a unit can fail, and the
// rollback of the units installed before it, newest first (on the upstream
// kernel each rolled-back patch is switched off before its module goes).
#include <cerrno>
#include <functional>
#include <ostream>
#include <utility>

#include "load_support.h"

namespace loadtest {
namespace {

const std::string kLoadFailed = err("LKP-LOAD:Failed to load.");
const std::string kModule2 = "/tmp/lkp_XXXXXX/fix_2/fix_2.ko";
const std::string kWriteFailed = err("Failed to write to /proc/navo_lkp_list.");

struct UnitCase {
    const char *name;
    std::function<void(UnitSpec &)> change;  // of the second of three units
    std::function<void()> arrange;           // the kernel side, before the load
    Lines unit_history;                      // what the second unit makes the kernel see
    Lines unit_log;
    int32_t rc;
    Lines left_inserted;  // modules of the package still inserted afterwards
};
void PrintTo(const UnitCase &row, std::ostream *out) {
    *out << row.name;
}

class UnitFault : public LoadTest, public ::testing::WithParamInterface<UnitCase> {};

// The first unit is installed and rolled back; the third is never extracted.
TEST_P(UnitFault, RollsBackTheUnitsBeforeIt) {
    const UnitCase &row = GetParam();
    PackageSpec spec = package({"fix_1.ko", "fix_2.ko", "fix_3.ko"});
    spec.units[1].archive = "fix_2.tar.gz";
    spec.units[1].dir = "fix_2";
    row.change(spec.units[1]);
    const std::string path = build(spec);
    row.arrange();
    const Lines records = lkpsim::records();
    const Lines inserted = lkpsim::inserted_modules();

    EXPECT_EQ(navo_lkp_load(path.c_str()), row.rc);
    expect_events(Lines{"init fix_1 0", "op add,3,hotfix_01.tar.gz,fix_1"} + row.unit_history +
                      switched_off("fix_1") +
                      Lines{"delete fix_1 0x880 0", "op rm,3,hotfix_01.tar.gz,fix_1"},
                  row.unit_log + Lines{kLoadFailed});
    EXPECT_EQ(lkpsim::records(), records);
    EXPECT_EQ(lkpsim::inserted_modules(), inserted + row.left_inserted);
}

void no_arrangement() {}

UnitCase layout_fault(const char *name, std::function<void(UnitSpec &)> change,
                      const std::string &message) {
    return {name, std::move(change), no_arrangement, {}, {err(message)}, INVALID_ARGUMENT, {}};
}

// A patch name that is empty, longer than 63 bytes or that the control file
// cannot carry fails without a line of its own.
UnitCase silent(const char *name, const std::string &module_file) {
    return {name,
            [module_file](UnitSpec &u) { u.module_file = module_file; },
            no_arrangement,
            {},
            {},
            INVALID_ARGUMENT,
            {}};
}

UnitCase insert_fault(const char *name, std::function<void(UnitSpec &)> change,
                      std::function<void()> arrange, const std::string &init_line) {
    return {name,
            std::move(change),
            std::move(arrange),
            init_line.empty() ? Lines{} : Lines{init_line},
            {err("Failed to insmod " + kModule2)},
            INVALID_ARGUMENT,
            {}};
}

void unchanged(UnitSpec &) {}

void module_file_as(UnitSpec &u, const std::string &bytes) {
    u.module_file.clear();
    u.extra_in_dir = {{"fix_2.ko", bytes}};
}

// The manager refuses fix_2's "add" line (as it does a name registered
// already, which a consistent kernel never shows the library: the record
// would have no module).
void fix_2_taken() {
    lkpsim::refuse_next_op(EINVAL, "fix_2");
}

INSTANTIATE_TEST_SUITE_P(
    Load, UnitFault,
    ::testing::Values(
        // tar fails: a failed extraction has no line of its own.
        UnitCase{"DamagedArchive",
                 [](UnitSpec &u) { u.raw_archive = "not an archive\n"; },
                 no_arrangement,
                 {},
                 {},
                 INVALID_ARGUMENT,
                 {}},
        layout_fault(
            "TwoTopLevelEntries",
            [](UnitSpec &u) {
                u.extra_top = {{"README", "x"}};
            },
            "Failed to get patch tar dir."),
        layout_fault(
            "ModuleAndAnotherFile",
            [](UnitSpec &u) {
                u.extra_in_dir = {{"README", "x"}};
            },
            "Failed to get ko_name."),
        layout_fault(
            "ModuleAtTopLevel", [](UnitSpec &u) { u.module_at_top = true; },
            "Failed to get ko_name."),
        layout_fault(
            "NoModule", [](UnitSpec &u) { u.module_file.clear(); }, "Failed to get ko_name."),
        layout_fault(
            "NoSuffix", [](UnitSpec &u) { u.module_file = "fix_2"; },
            "Failed to get rid of postfix."),
        layout_fault(
            "UpperCaseSuffix", [](UnitSpec &u) { u.module_file = "fix_2.KO"; },
            "Failed to get rid of postfix."),
        layout_fault(
            "FurtherSuffix", [](UnitSpec &u) { u.module_file = "fix_2.ko.bak"; },
            "Failed to get rid of postfix."),
        silent("CommaInPatchName", "fix,2.ko"), silent("BlankInPatchName", "fix 2.ko"),
        silent("TabInPatchName", "fix\t2.ko"), silent("NewlineInPatchName", "fix\n2.ko"),
        silent("PatchNameOf64Bytes", std::string(64, 'p') + ".ko"), silent("EmptyPatchName", ".ko"),
        // Names the module tools would cut at a "." or mangle.
        silent("DotInPatchName", "a.b.ko"), silent("DotPatchName", "..ko"),
        silent("DotsPatchName", "...ko"),
        silent("ControlCharacterInPatchName",
               "fix\x01"
               "2.ko"),
        silent("UnitSeparatorInPatchName",
               "fix\x1f"
               "2.ko"),
        silent("DeleteInPatchName",
               "fix\x7f"
               "2.ko"),
        silent("EscapeInPatchName",
               "fix\x1b"
               "2.ko"),
        // The module declares a name that is not its file's.
        UnitCase{"ModuleDeclaresAnotherName",
                 [](UnitSpec &u) { u.module.name = "other"; },
                 no_arrangement,
                 {},
                 {err("load_patch: The module fix_2.ko is named other.")},
                 INVALID_ARGUMENT,
                 {}},
        UnitCase{"ModuleDeclaresTheFileNameWithItsDash",
                 [](UnitSpec &u) {
                     u.module_file = "fix-2.ko";
                     u.module.name = "fix-2";
                 },
                 no_arrangement,
                 {},
                 {err("load_patch: The module fix-2.ko is named fix-2.")},
                 INVALID_ARGUMENT,
                 {}},
        UnitCase{"TargetNotLoaded",
                 [](UnitSpec &u) { u.module.targets = {"nfs"}; },
                 [] { lkpsim::set_target_loaded("nfs", false); },
                 {"init fix_2 -65"},
                 {err("The target " + kModule2 + " not loaded")},
                 TARGET_NOT_LOADED,
                 {}},
        insert_fault(
            "InsertionRefused", unchanged, [] { lkpsim::fail_next_init(EPERM, "fix_2"); },
            "init fix_2 -1"),
        // A kernel side code is not passed on.
        insert_fault(
            "KernelCode", unchanged, [] { lkpsim::fail_next_init(318, "fix_2"); },
            "init fix_2 -318"),
        insert_fault(
            "ModuleAlreadyInserted", unchanged, [] { lkpsim::insert_plain_module("fix_2"); },
            "init fix_2 -17"),
        insert_fault(
            "NotAModuleImage", [](UnitSpec &u) { module_file_as(u, "not an ELF image\n"); },
            no_arrangement, "init ? -8"),
        // A zero-byte image cannot be mapped: no module call at all.
        insert_fault(
            "EmptyModuleFile", [](UnitSpec &u) { module_file_as(u, ""); }, no_arrangement, ""),
        // The unit's own module is removed at once, and gets no "rm" line.
        UnitCase{"AddLineRefused",
                 unchanged,
                 fix_2_taken,
                 Lines{"init fix_2 0", "op! add,3,hotfix_01.tar.gz,fix_2"} + switched_off("fix_2") +
                     Lines{"delete fix_2 0x880 0"},
                 {kWriteFailed},
                 INVALID_ARGUMENT,
                 {}},
        UnitCase{"AddLineRefusedModuleStuck",
                 unchanged,
                 [] {
                     fix_2_taken();
                     lkpsim::fail_next_delete(EPERM, "fix_2");
                 },
                 Lines{"init fix_2 0", "op! add,3,hotfix_01.tar.gz,fix_2"} + switched_off("fix_2") +
                     Lines{"delete fix_2 0x880 -1"},
                 {err("Failed lkp rmmod, ret -1."), kWriteFailed},
                 INVALID_ARGUMENT,
                 {"fix_2"}}),
    [](const auto &info) { return std::string(info.param.name); });

// The target of fix_<failing> is not loaded.
class FailingUnit : public LoadTest {
protected:
    std::string build_with_missing_target(int failing) {
        PackageSpec spec = package({"fix_1.ko", "fix_2.ko", "fix_3.ko"});
        spec.units[failing - 1].module.targets = {"nfs"};
        lkpsim::set_target_loaded("nfs", false);
        return build(spec);
    }
    static std::string target_line(const std::string &patch) {
        return err("The target /tmp/lkp_XXXXXX/" + patch + "/" + patch + ".ko not loaded");
    }
};

TEST_F(FailingUnit, FirstLeavesNothingToRollBack) {
    EXPECT_EQ(navo_lkp_load(build_with_missing_target(1).c_str()), TARGET_NOT_LOADED);
    expect_events({"init fix_1 -65"}, {target_line("fix_1"), kLoadFailed});
    expect_no_patches();
}

TEST_F(FailingUnit, LastRollsBackNewestFirst) {
    EXPECT_EQ(navo_lkp_load(build_with_missing_target(3).c_str()), TARGET_NOT_LOADED);
    expect_events(Lines{"init fix_1 0", "op add,3,hotfix_01.tar.gz,fix_1", "init fix_2 0",
                        "op add,3,hotfix_01.tar.gz,fix_2", "init fix_3 -65"} +
                      switched_off("fix_2") +
                      Lines{"delete fix_2 0x880 0", "op rm,3,hotfix_01.tar.gz,fix_2"} +
                      switched_off("fix_1") +
                      Lines{"delete fix_1 0x880 0", "op rm,3,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_3"), kLoadFailed});
    expect_no_patches();
}

// A module that cannot be removed still gets its "rm" line, and the rollback goes on.
TEST_F(FailingUnit, RollbackGoesOnPastAModuleItCannotRemove) {
    const std::string path = build_with_missing_target(3);
    lkpsim::fail_next_delete(EPERM, "fix_2");
    EXPECT_EQ(navo_lkp_load(path.c_str()), TARGET_NOT_LOADED);
    expect_events(Lines{"init fix_1 0", "op add,3,hotfix_01.tar.gz,fix_1", "init fix_2 0",
                        "op add,3,hotfix_01.tar.gz,fix_2", "init fix_3 -65"} +
                      switched_off("fix_2") +
                      Lines{"delete fix_2 0x880 -1", "op rm,3,hotfix_01.tar.gz,fix_2"} +
                      switched_off("fix_1") +
                      Lines{"delete fix_1 0x880 0", "op rm,3,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_3"), err("Failed lkp rmmod, ret -1."), kLoadFailed});
    EXPECT_EQ(lkpsim::records(), Lines{});
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_2"}));
}

// A refused "rm" line is only logged; the rollback goes on with the next unit.
TEST_F(FailingUnit, RollbackGoesOnPastARefusedRmLine) {
    const std::string path = build_with_missing_target(3);
    lkpsim::refuse_next_op(EINVAL, "rm");
    EXPECT_EQ(navo_lkp_load(path.c_str()), TARGET_NOT_LOADED);
    expect_events(Lines{"init fix_1 0", "op add,3,hotfix_01.tar.gz,fix_1", "init fix_2 0",
                        "op add,3,hotfix_01.tar.gz,fix_2", "init fix_3 -65"} +
                      switched_off("fix_2") +
                      Lines{"delete fix_2 0x880 0", "op! rm,3,hotfix_01.tar.gz,fix_2"} +
                      switched_off("fix_1") +
                      Lines{"delete fix_1 0x880 0", "op rm,3,hotfix_01.tar.gz,fix_1"},
                  {target_line("fix_3"), err("Failed rm op, pkg hotfix_01.tar.gz, patch fix_2."),
                   kLoadFailed});
    EXPECT_EQ(lkpsim::records(), Lines{"3,hotfix_01.tar.gz,fix_2"});
    EXPECT_EQ(lkpsim::inserted_modules(), Lines{"tesvar"});
}

}  // namespace
}  // namespace loadtest
