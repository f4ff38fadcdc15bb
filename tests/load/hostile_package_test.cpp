// Packages built as a hostile or careless builder would: links and special
// files in every place, members outside the archive, damaged archives, huge
// files and lines, many units, names the kernel spells differently. Each
// case ends with its exact result and lines, and leaves nothing behind: no
// /tmp/lkp_* directory (the fixture checks), no module, no record.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>

#include "lkpsim/module_image.h"
#include "load_support.h"

namespace loadtest {
namespace {

using lkpsim::TarMember;

const std::string kLoadFailed = err("LKP-LOAD:Failed to load.");
const Lines kNoChild = {err("check_pkg_available: Failed to get the child dir.")};
const Lines kFormat = {err("Failed to check the patch format."),
                       err("check_pkg_available Failed.")};
const Lines kNoContent = {err("open_file: The file is not existent."),
                          err("check_pkg_available Failed.")};
const Lines kCountMismatch = {err("check_content_head: The total number is not match."),
                              err("check_pkg_available Failed.")};
const Lines kHeadLine = {err("check_content_head: Failed to getline."),
                         err("check_pkg_available Failed.")};
const Lines kNoUnitDir = {err("Failed to get patch tar dir.")};
const Lines kNoModule = {err("Failed to get ko_name.")};

// The second unit failed after the first was installed: its rollback.
// (Upstream the patch is switched off first.)
const Lines kRolledBack = Lines{"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1"} +
                          switched_off("fix_1") +
                          Lines{"delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"};

class Hostile;

struct HostileCase {
    const char *name;
    std::function<void(PackageSpec &, Hostile &)> change;  // of units fix_1 and fix_2
    Lines history;
    Lines log;  // before "LKP-LOAD:Failed to load."
};
void PrintTo(const HostileCase &row, std::ostream *out) {
    *out << row.name;
}

class Hostile : public LoadTest, public ::testing::WithParamInterface<HostileCase> {
public:
    // Things outside any package that a link could reach: a package
    // directory, its manifest and unit archive, a unit directory and a
    // module named fix_2 (inserting it would succeed).
    std::string outside() {
        const std::string dir = scratch_dir() + "/outside";
        if (access(dir.c_str(), F_OK) != 0) {
            EXPECT_EQ(mkdir(dir.c_str(), 0755), 0);
            const std::string package = build(package_of_two(), "outside_build");
            extract(package, dir);
            EXPECT_EQ(mkdir((dir + "/fix_2").c_str(), 0755), 0);
            lkpsim::ModuleSpec module;
            module.name = "fix_2";
            EXPECT_TRUE(lkpsim::write_module_file(dir + "/fix_2/fix_2.ko", module));
            for (const char *file : {"/hotfix_01/content", "/hotfix_01/fix_2.tar.gz"}) {
                EXPECT_EQ(access((dir + file).c_str(), R_OK), 0) << file;
            }
        }
        return dir;
    }
    // The same place as seen from an entry `depth` directories below "/".
    std::string relative(const std::string &path, int depth) {
        std::string up;
        for (int i = 0; i < depth; ++i) {
            up += "../";
        }
        return up + path.substr(1);
    }
    // The bytes of a well-formed package of two units, cut in half.
    std::string truncated() {
        const std::string package = build(package_of_two(), "whole");
        std::ifstream in(package, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        return bytes.substr(0, bytes.size() / 2);
    }

    static PackageSpec package_of_two() {
        PackageSpec spec = package({"fix_1.ko", "fix_2.ko"});
        for (UnitSpec &unit : spec.units) {
            unit.archive = unit.module_file.substr(0, 5) + ".tar.gz";
            unit.dir = unit.module_file.substr(0, 5);
        }
        return spec;
    }

    static void extract(const std::string &archive, const std::string &dir) {
        const std::string script = "/bin/tar -xzf \"$0\" -C \"$1\"";
        const pid_t child = fork();
        if (child == 0) {
            char *const environment[] = {nullptr};
            execle("/bin/sh", "/bin/sh", "-c", script.c_str(), archive.c_str(), dir.c_str(),
                   static_cast<char *>(nullptr), environment);
            _exit(127);
        }
        int status = -1;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0) << archive;
    }
};

TEST_P(Hostile, FailsCleanlyAndLeavesNothing) {
    const HostileCase &row = GetParam();
    PackageSpec spec = package_of_two();
    row.change(spec, *this);
    const std::string path = build(spec, "package");
    forget_events();
    EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    expect_events(row.history, row.log + Lines{kLoadFailed});
    expect_no_patches();
    // Nothing outside was written to either.
    EXPECT_NE(access("/tmp/escape", F_OK), 0);
    EXPECT_NE(access("/escape", F_OK), 0);
}

using Spec = PackageSpec &;
using Fixture = Hostile &;

// Unit fix_2 without its module file, which `member` stands for instead.
void module_is(Spec s, const TarMember &member) {
    s.units[1].module_file.clear();
    s.units[1].members = {member};
}

// The documented limit of one extracted file.
constexpr size_t kFileSizeLimit = 64 << 20;

INSTANTIATE_TEST_SUITE_P(
    Load, Hostile,
    ::testing::Values(
        // ------------------------------------------------ symbolic links
        HostileCase{"PackageDirAbsoluteLink",
                    [](Spec s, Fixture f) {
                        s.dir_present = false;
                        s.members = {TarMember::symlink("hotfix_01", f.outside() + "/hotfix_01")};
                    },
                    {},
                    kNoChild},
        HostileCase{"PackageDirRelativeLink",
                    [](Spec s, Fixture f) {
                        s.dir_present = false;
                        s.members = {TarMember::symlink("hotfix_01",
                                                        f.relative(f.outside() + "/hotfix_01", 2))};
                    },
                    {},
                    kNoChild},
        HostileCase{"ContentAbsoluteLink",
                    [](Spec s, Fixture f) {
                        s.content_present = false;
                        s.members_in_dir = {
                            TarMember::symlink("content", f.outside() + "/hotfix_01/content")};
                    },
                    {},
                    kNoContent},
        HostileCase{"ContentRelativeLink",
                    [](Spec s, Fixture f) {
                        s.content_present = false;
                        s.members_in_dir = {TarMember::symlink(
                            "content", f.relative(f.outside() + "/hotfix_01/content", 3))};
                    },
                    {},
                    kNoContent},
        HostileCase{"UnitArchiveAbsoluteLink",
                    [](Spec s, Fixture f) {
                        s.units[1].present = false;
                        s.members_in_dir = {TarMember::symlink(
                            "fix_2.tar.gz", f.outside() + "/hotfix_01/fix_2.tar.gz")};
                    },
                    {},
                    kCountMismatch},
        HostileCase{"UnitArchiveRelativeLink",
                    [](Spec s, Fixture f) {
                        s.units[1].present = false;
                        s.members_in_dir = {TarMember::symlink(
                            "fix_2.tar.gz",
                            f.relative(f.outside() + "/hotfix_01/fix_2.tar.gz", 3))};
                    },
                    {},
                    kCountMismatch},
        HostileCase{"UnitDirAbsoluteLink",
                    [](Spec s, Fixture f) {
                        s.units[1].dir_present = false;
                        s.units[1].members = {TarMember::symlink("fix_2", f.outside() + "/fix_2")};
                    },
                    kRolledBack, kNoUnitDir},
        HostileCase{"UnitDirRelativeLink",
                    [](Spec s, Fixture f) {
                        s.units[1].dir_present = false;
                        s.units[1].members = {
                            TarMember::symlink("fix_2", f.relative(f.outside() + "/fix_2", 2))};
                    },
                    kRolledBack, kNoUnitDir},
        HostileCase{"ModuleAbsoluteLink",
                    [](Spec s, Fixture f) {
                        module_is(s, TarMember::symlink("fix_2/fix_2.ko",
                                                        f.outside() + "/fix_2/fix_2.ko"));
                    },
                    kRolledBack, kNoModule},
        HostileCase{"ModuleRelativeLink",
                    [](Spec s, Fixture f) {
                        module_is(
                            s, TarMember::symlink("fix_2/fix_2.ko",
                                                  f.relative(f.outside() + "/fix_2/fix_2.ko", 3)));
                    },
                    kRolledBack, kNoModule},
        // ------------------------------------------------ other file kinds
        // tar refuses a hard link to a file the archive does not hold.
        HostileCase{"ModuleHardLinkOutside",
                    [](Spec s, Fixture f) {
                        module_is(s, TarMember::hard_link("fix_2/fix_2.ko",
                                                          f.outside() + "/fix_2/fix_2.ko"));
                    },
                    kRolledBack,
                    {}},
        HostileCase{"ModuleFifo",
                    [](Spec s, Fixture) { module_is(s, TarMember::fifo("fix_2/fix_2.ko")); },
                    kRolledBack, kNoModule},
        HostileCase{"ModuleDevice",
                    [](Spec s, Fixture) { module_is(s, TarMember::char_device("fix_2/fix_2.ko")); },
                    kRolledBack, kNoModule},
        HostileCase{"FileInsteadOfPackageDir",
                    [](Spec s, Fixture) {
                        s.dir_present = false;
                        s.extra_top = {{"hotfix_01", "not a directory\n"}};
                    },
                    {},
                    kFormat},
        // ------------------------------------------------ members outside
        HostileCase{"DotDotMember",
                    [](Spec s, Fixture) { s.members = {TarMember::file("../escape", "x")}; },
                    {},
                    {}},
        HostileCase{"DotDotMemberInUnit",
                    [](Spec s, Fixture) {
                        s.units[1].members = {TarMember::file("fix_2/../../escape", "x")};
                    },
                    kRolledBack,
                    {}},
        // tar drops the leading "/": the member lands inside, as a second
        // top-level entry.
        HostileCase{"AbsoluteMember",
                    [](Spec s, Fixture) { s.members = {TarMember::file("/tmp/escape", "x")}; },
                    {},
                    kNoChild},
        // ------------------------------------------------ damaged archives
        HostileCase{
            "TruncatedArchive", [](Spec s, Fixture f) { s.raw_package = f.truncated(); }, {}, {}},
        HostileCase{"NotGzip", [](Spec s, Fixture) { s.raw_package = "plain text\n"; }, {}, {}},
        HostileCase{"EmptyFile", [](Spec s, Fixture) { s.raw_package = ""; }, {}, {}},
        HostileCase{"TwoTopLevelEntries",
                    [](Spec s, Fixture) {
                        s.extra_top = {{"hotfix_02/", ""}};
                    },
                    {},
                    kNoChild},
        // ------------------------------------------------ sizes
        HostileCase{
            "ModuleOverTheSizeLimit",
            [](Spec s, Fixture) {
                s.units[1].module_file.clear();
                s.units[1].extra_in_dir = {{"fix_2.ko", std::string(kFileSizeLimit + 1, '\0')}};
            },
            kRolledBack,
            {}},
        HostileCase{
            "ManifestLineOf100MB",
            [](Spec s, Fixture) { s.manifest = "versions: " + std::string(100 << 20, 'v') + "\n"; },
            {},
            {}},
        HostileCase{
            "ManifestLineOf1024Bytes",
            [](Spec s, Fixture) { s.manifest = "versions: " + std::string(1024 - 11, 'v') + "\n"; },
            {},
            kHeadLine},
        // ------------------------------------------------ names
        HostileCase{"ModuleDeclaresAnotherName",
                    [](Spec s, Fixture) {
                        s.units[1].module_file = "wrongname.ko";
                        s.units[1].module.name = "other";
                    },
                    kRolledBack,
                    {err("load_patch: The module wrongname.ko is named other.")}},
        HostileCase{"DotInModuleName",
                    [](Spec s, Fixture) { s.units[1].module_file = "a.b.ko"; },
                    kRolledBack,
                    {}},
        HostileCase{"ControlCharacterInModuleName",
                    [](Spec s, Fixture) { s.units[1].module_file = "fix\x7f.ko"; },
                    kRolledBack,
                    {}}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- manifest memory

long status_kib(const std::string &field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

// A 32 MB line is refused after reading at most a line's worth of it: the
// peak resident size grows by far less than the line.
TEST_F(LoadTest, LongManifestLineIsNotReadWhole) {
    PackageSpec spec = Hostile::package_of_two();
    spec.manifest = "versions: 1.0\ndescription: " + std::string(32 << 20, 'd') + "\n";
    const std::string path = build(spec);
    spec.manifest.reset();
    forget_events();
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    const long before = status_kib("VmRSS");
    EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    const long peak = status_kib("VmHWM");
    expect_events({}, kHeadLine + Lines{kLoadFailed});
    ASSERT_GT(before, 0);
    EXPECT_LT(peak - before, 8 * 1024) << "kB over the resident size before the load";
}

// ---------------------------------------------------------------- full /tmp

// /tmp fills up while the second unit's module is extracted: tar fails, and
// so does the unit; the first is rolled back and nothing is left.
TEST_F(LoadTest, FullTmpFailsTheExtraction) {
    PackageSpec spec = Hostile::package_of_two();
    spec.units[1].module_file.clear();
    spec.units[1].extra_in_dir = {{"fix_2.ko", std::string(256 << 10, '\0')}};
    const std::string path = build(spec);
    forget_events();
    ASSERT_EQ(mount("none", "/tmp", "tmpfs", 0, "size=64k,mode=1777"), 0);
    const int32_t rc = navo_lkp_load(path.c_str());
    const std::set<std::string> left = lkptest::directory_entries("/tmp");
    ASSERT_EQ(umount("/tmp"), 0);
    EXPECT_EQ(rc, INVALID_ARGUMENT);
    expect_events(kRolledBack, {kLoadFailed});
    EXPECT_EQ(left, std::set<std::string>{});
    expect_no_patches();
}

// ---------------------------------------------------------------- many units

// 10,000 units: the package is extracted and checked whole; every unit holds
// fix_1, so the second is refused by the kernel and the first rolled back.
TEST_F(LoadTest, TenThousandUnitsAreCheckedAndRolledBack) {
    PackageSpec one = package({"fix_1.ko"}, "one.tar.gz");
    one.dir_name = "one";
    const std::string one_path = build(one, "one");
    Hostile::extract(one_path, scratch_dir() + "/one");
    std::ifstream in(scratch_dir() + "/one/one/fix_1.tar.gz", std::ios::binary);
    const std::string unit_bytes((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    ASSERT_FALSE(unit_bytes.empty());

    PackageSpec spec;
    spec.file_name = PKG;
    for (int i = 1; i <= 10000; ++i) {
        UnitSpec unit;
        unit.archive = "unit_" + std::to_string(i) + ".tar.gz";
        unit.raw_archive = unit_bytes;
        spec.units.push_back(unit);
    }
    const std::string path = build(spec);
    forget_events();
    EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
    expect_events(Lines{"init fix_1 0", "op add,10000,hotfix_01.tar.gz,fix_1", "init fix_1 -17"} +
                      switched_off("fix_1") +
                      Lines{"delete fix_1 0x880 0", "op rm,10000,hotfix_01.tar.gz,fix_1"},
                  {err("Failed to insmod /tmp/lkp_XXXXXX/fix_1/fix_1.ko"), kLoadFailed});
    expect_no_patches();
}

// ---------------------------------------------------------------- kernel names

// "fs_fix-2.ko" is inserted as it is and is module fs_fix_2 to the kernel:
// every line and file names it so, and the package can be switched and
// removed. (Upstream the load switched it on already, and it is switched off
// before its removal.)
TEST_F(LoadTest, DashedModuleIsAddressedByItsKernelName) {
    const char *pkg = PKG;
    const std::string path = build(package({"fix-1.ko", "fs_fix-2.ko"}));
    forget_events();
    ASSERT_EQ(navo_lkp_load(path.c_str()), 0);
    EXPECT_EQ(lkpsim::records(),
              (Lines{"2,hotfix_01.tar.gz,fix_1", "2,hotfix_01.tar.gz,fs_fix_2"}));
    ASSERT_EQ(navo_lkp_activate(pkg), 0);
    EXPECT_EQ(navo_lkp_state(pkg), 5);
    switch_off_if_upstream(pkg);
    ASSERT_EQ(navo_lkp_remove(pkg), 0);
    const bool upstream = upstream_kernel();
    expect_events(
        Lines{"init fix_1 0", "op add,2,hotfix_01.tar.gz,fix_1", "init fs_fix_2 0",
              "op add,2,hotfix_01.tar.gz,fs_fix_2"} +
            (upstream ? Lines{"enable fs_fix_2 0", "enable fix_1 0"}
                      : Lines{"enable fix_1 1", "enable fs_fix_2 1"}) +
            Lines{"delete fs_fix_2 0x880 0", "op rm,2,hotfix_01.tar.gz,fs_fix_2",
                  "delete fix_1 0x880 0", "op rm,2,hotfix_01.tar.gz,fix_1"},
        Lines{info("LKP-LOAD:Success to load.")} +
            (upstream ? Lines{info("The pkg has already been activated before.")} : Lines{}) +
            Lines{info("LKP-ACTIVATE:Success to activate.")} + deactivated_log() +
            Lines{info("LKP-REMOVE:Success to remove the hotfix_01.tar.gz")});
    expect_no_patches();
}

// A module "a.b" would be removed as module "a": it never gets in, and the
// package that owns patch "a" keeps it.
TEST_F(LoadTest, DottedModuleLeavesAnotherPackagesPatchAlone) {
    ASSERT_EQ(navo_lkp_load(build(package({"a.ko"}, "first.tar.gz"), "first").c_str()), 0);
    int attempt = 0;
    for (const char *module : {"a.b.ko", "..ko", "...ko"}) {
        SCOPED_TRACE(module);
        ++attempt;
        PackageSpec spec = package({module});
        spec.units[0].archive = "unit.tar.gz";
        spec.units[0].dir = "unit";
        forget_events();
        const std::string path = build(spec, "attempt" + std::to_string(attempt));
        EXPECT_EQ(navo_lkp_load(path.c_str()), INVALID_ARGUMENT);
        expect_events({}, {kLoadFailed});
        EXPECT_EQ(navo_lkp_remove(PKG), NO_PATCHES);
        EXPECT_EQ(lkpsim::records(), Lines{"1,first.tar.gz,a"});
        EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "a"}));
        take_log();
    }
    switch_off_if_upstream("first.tar.gz");
    ASSERT_EQ(navo_lkp_remove("first.tar.gz"), 0);
    take_log();
}

// ---------------------------------------------------------------- package paths

// "-" is a file, not standard input; "host:file" is a file, not a remote
// archive; "--help" is not an option.
TEST_F(LoadTest, RelativePackagePathsAreLocalFiles) {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(scratch_dir().c_str()), 0);
    for (const std::string name : {"-", "host:file", "--help"}) {
        SCOPED_TRACE(name);
        build(package({"fix_1.ko"}, name));
        forget_events();
        EXPECT_EQ(navo_lkp_load(name.c_str()), 0);
        EXPECT_EQ(lkpsim::records(), Lines{"1," + name + ",fix_1"});
        switch_off_if_upstream(name);
        EXPECT_EQ(navo_lkp_remove(name.c_str()), 0);
        expect_events(Lines{"init fix_1 0", "op add,1," + name + ",fix_1"} +
                          switched_off_first({"fix_1"}) +
                          Lines{"delete fix_1 0x880 0", "op rm,1," + name + ",fix_1"},
                      Lines{info("LKP-LOAD:Success to load.")} + deactivated_log() +
                          Lines{info("LKP-REMOVE:Success to remove the " + name)});
        std::remove(name.c_str());
    }
    ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
}  // namespace loadtest
