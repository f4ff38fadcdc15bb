// lkpctl pack and check: building packages from module files, refusing names
// the control file cannot carry, and naming what is wrong with hostile
// packages, without touching the kernel.
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const std::string BAD_CHARACTER = "contains a comma, a blank, a TAB or a newline";

std::string check_failure(const std::string &problem) {
    return "lkpctl: check: " + problem + "\n" + failure("check", -257, MSG_INVALID);
}

class LkpctlPackTest : public ToolTest {
protected:
    // Writes <name>.ko patching target into the scratch directory with `lkpsim mkmod`.
    void make_modules(const std::vector<std::pair<std::string, std::string>> &names_targets) {
        for (const auto &[name, target] : names_targets) {
            const ToolRun run = run_tool(
                built_program(LKPSIM_PATH),
                {"mkmod", "-o", expand("%D/" + name + ".ko"), "--name", name, "--target", target});
            ASSERT_EQ(run.status, 0) << run.err;
        }
    }
};

TEST_F(LkpctlPackTest, PackedPackageChecksAndLoads) {
    make_modules({{"fix_a", "ext4"}, {"fix_b", "nfs"}});
    const std::string units = "  fix_a.tar.gz  fix_a\n  fix_b.tar.gz  fix_b\n";
    run_steps({
        {{"pack", "-o", "%D/hotfix_01.tar.gz", "--version", "2.1", "--description", "two fixes",
          "--date=2020-01-01", "%D/fix_a.ko", "%D/fix_b.ko"},
         0,
         "%D/hotfix_01.tar.gz: package hotfix_01.tar.gz, 2 unit(s)\n" + units,
         ""},
        {{"check", "%D/hotfix_01.tar.gz"}, 0, "hotfix_01.tar.gz: 2 unit(s)\n" + units, ""},
        {{"--json", "check", "%D/hotfix_01.tar.gz"},
         0,
         json_line("check", 0, "Success",
                   R"({"file":"%D/hotfix_01.tar.gz","package":"hotfix_01.tar.gz","units":[)"
                   R"({"archive":"fix_a.tar.gz","patch":"fix_a"},)"
                   R"({"archive":"fix_b.tar.gz","patch":"fix_b"}],"problems":[],"warnings":[]})"),
         ""},
    });
    const ToolRun manifest =
        run_tool("/bin/tar", {"-xzOf", expand("%D/hotfix_01.tar.gz"), "hotfix_01/content"});
    EXPECT_EQ(manifest.out,
              "versions: 2.1\ndescription: two fixes\ndate: 2020-01-01\nUnits List: 2\n"
              "fix_a.tar.gz\nfix_b.tar.gz\n");
    EXPECT_TRUE(lkpsim::history().empty()) << "pack or check touched the kernel";
    run_steps({
        {{"load", "%D/hotfix_01.tar.gz"}, 0, "hotfix_01.tar.gz: loaded\n", ""},
        {{"owner", "nfs"}, 0, "hotfix_01.tar.gz\n", ""},
    });
    EXPECT_EQ(lkpsim::records(),
              (std::vector<std::string>{"2,hotfix_01.tar.gz,fix_a", "2,hotfix_01.tar.gz,fix_b"}));
}

// Without --date the date is $SOURCE_DATE_EPOCH's, also past 2038 on a 32-bit target.
TEST_F(LkpctlPackTest, DefaultDateComesFromSourceDateEpochPast2038) {
    make_modules({{"fix_a", "ext4"}});
    const std::pair<const char *, const char *> cases[] = {
        {"2147483647", "2038-01-19"},  // the last second of a 32-bit time_t
        {"2147483648", "2038-01-19"},
        {"4102444800", "2100-01-01"},
    };
    for (const auto &[epoch, date] : cases) {
        SCOPED_TRACE(epoch);
        ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", epoch, 1), 0);
        const ToolRun run = lkpctl({"pack", "-o", "%D/dated.tar.gz", "%D/fix_a.ko"});
        unsetenv("SOURCE_DATE_EPOCH");
        ASSERT_EQ(run.status, 0) << run.err;
        const ToolRun manifest =
            run_tool("/bin/tar", {"-xzOf", expand("%D/dated.tar.gz"), "dated/content"});
        EXPECT_NE(manifest.out.find(std::string("\ndate: ") + date + "\n"), std::string::npos)
            << manifest.out;
        std::filesystem::remove(expand("%D/dated.tar.gz"));
    }
}

// A device's BusyBox tar has none of GNU tar's archive options: pack says that
// it needs GNU tar rather than only that tar failed. The stand-in answers
// every call as BusyBox does to an option it lacks.
TEST_F(LkpctlPackTest, PackSaysItNeedsGnuTar) {
    make_modules({{"fix_a", "ext4"}});
    const std::string busybox_tar = expand("%D/busybox_tar");
    {
        std::ofstream script(busybox_tar);
        script << "#!/bin/sh\necho \"tar: unrecognized option '$1'\" >&2\nexit 1\n";
    }
    ASSERT_EQ(chmod(busybox_tar.c_str(), 0755), 0);
    // The namespace's mounts are private: the host's tar stays as it is.
    ASSERT_EQ(mount(busybox_tar.c_str(), "/bin/tar", "none", MS_BIND, nullptr), 0);
    const ToolRun run = lkpctl({"pack", "-o", "%D/p.tar.gz", "%D/fix_a.ko"});
    ASSERT_EQ(umount2("/bin/tar", MNT_DETACH), 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "tar: unrecognized option '--sort=name'\n"
              "lkpctl: pack: /bin/tar exited with status 1 (pack needs GNU tar as /bin/tar; a "
              "BusyBox tar cannot make reproducible archives: pack on a build machine)\n"
              "lkpctl: pack: -5: Input/output error\n");
    EXPECT_FALSE(std::filesystem::exists(expand("%D/p.tar.gz")));
}

// The same inputs give the same bytes, whatever the umask and the module files' times.
TEST_F(LkpctlPackTest, PackIsReproducible) {
    make_modules({{"fix_a", "ext4"}, {"fix_b", "nfs"}});
    std::vector<std::string> packages;
    for (const mode_t mask : {022, 077}) {
        const std::string out = expand("%D/out" + std::to_string(packages.size()));
        ASSERT_TRUE(std::filesystem::create_directory(out));
        std::filesystem::last_write_time(
            expand("%D/fix_a.ko"),
            std::filesystem::file_time_type::clock::now() - std::chrono::hours(25 * mask));
        const mode_t old_mask = umask(mask);
        const ToolRun run = lkpctl({"pack", "-o", out + "/p.tar.gz", "--date", "2021-02-03",
                                    "%D/fix_b.ko", "%D/fix_a.ko"});
        umask(old_mask);
        EXPECT_EQ(run.status, 0) << run.err;
        packages.push_back(file_bytes(out + "/p.tar.gz"));
    }
    EXPECT_FALSE(packages[0].empty());
    EXPECT_EQ(packages[0], packages[1]);
}

TEST_F(LkpctlPackTest, PackRefusesNamesTheControlFileCannotCarry) {
    const std::string stem(57, 'p');  // 57 + ".tar.gz" is 64 characters
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-o", "%D/bad name.tar.gz", "%D/f.ko"},
         "package name 'bad name.tar.gz' " + BAD_CHARACTER},
        {{"-o", "%D/a,b.tar.gz", "%D/f.ko"}, "package name 'a,b.tar.gz' " + BAD_CHARACTER},
        {{"-o", "%D/a\tb.tar.gz", "%D/f.ko"}, "package name 'a\tb.tar.gz' " + BAD_CHARACTER},
        {{"-o", "%D/x.tgz", "%D/f.ko"},
         "package name 'x.tgz' must end in \".tar.gz\" after a directory name"},
        {{"-o", "%D/.tar.gz", "%D/f.ko"},
         "package name '.tar.gz' must end in \".tar.gz\" after a directory name"},
        {{"-o", "%D/" + stem + ".tar.gz", "%D/f.ko"},
         "package name '" + stem + ".tar.gz' is longer than 63 characters"},
        {{"-o", "%D/p.tar.gz", "%D/f a.ko"}, "patch name 'f a' " + BAD_CHARACTER},
        {{"-o", "%D/p.tar.gz", "%D/f,a.ko"}, "patch name 'f,a' " + BAD_CHARACTER},
        {{"-o", "%D/p.tar.gz", "%D/f.KO"},
         "module file 'f.KO' must end in \".ko\" after a patch name"},
        {{"-o", "%D/p.tar.gz", "%D/" + stem + ".ko"},
         "patch name '" + stem + "' is too long: its unit archive name '" + stem +
             ".tar.gz' must fit in 63 characters"},
        {{"-o", "%D/p.tar.gz", "%D/a/f.ko", "%D/b/f.ko"}, "patch name 'f' is given twice"},
        {{"%D/f.ko"}, "the package file must be named with -o NAME.tar.gz"},
        {{"-o", "%D/p.tar.gz", "--date", "2020-02-30", "%D/f.ko"},
         "date '2020-02-30' is not a calendar date written YYYY-MM-DD"},
        {{"-o", "%D/p.tar.gz", "--version", "1\n2", "%D/f.ko"},
         "the value of \"versions:\" must not hold a newline"},
    };
    for (const auto &[args, detail] : cases) {
        std::vector<std::string> line{"pack", "--date", "2020-01-01"};
        line.insert(line.end(), args.begin(), args.end());
        run_steps({{line, 2, "", "lkpctl: pack: " + detail + "\nTry 'lkpctl pack --help'.\n"}});
    }
    run_steps({{{"pack", "-o", "%D/p.tar.gz", "%D/ghost.ko"},
                1,
                "",
                "lkpctl: pack: module file %D/ghost.ko is not a regular file\n" +
                    failure("pack", -266, MSG_FILE_MISSING)}});
    EXPECT_TRUE(directory_entries(scratch_dir()).empty()) << "pack wrote something";
}

struct HostileCase {
    const char *name;
    void (*spoil)(lkpsim::PackageSpec &spec);  // of two units fix_1 and fix_2
    std::string problem;                       // the tool's own line
    std::string log;                           // the library's reason in the system log, or ""
    std::string noise;                         // what /bin/tar says on stderr first, or ""
};

const std::string LAYOUT =
    "the package layout or its manifest is wrong (run with -v for the reasons)";
std::string unit_problem(const std::string &archive) {
    return "unit " + archive +
           ": it must hold one directory with one module file whose name, without \".ko\", is a "
           "patch name of 1 to 63 characters with no comma, blank, TAB, newline, '.' or control "
           "character, and the unit archive must extract cleanly (at most 64 MiB a file) (run "
           "with -v for the reasons)";
}
const std::string NO_EXTRACTION =
    "package: /bin/tar cannot extract it (not a gzip tar archive, truncated, a member outside the "
    "archive, or a file over 64 MiB)";
const std::string NO_CHILD = "[LKP-ERR]:check_pkg_available: Failed to get the child dir.";
const std::string BAD_LIST = "[LKP-ERR]:check_pkg_available: Failed to get the patch tar.";

// Replaces the first `from` in the generated manifest of spec.
void edit_manifest(lkpsim::PackageSpec &spec, const std::string &from, const std::string &to) {
    std::string text = lkpsim::manifest_for(spec);
    text.replace(text.find(from), from.size(), to);
    spec.manifest = text;
}

// Unit `index` keeps its archive and directory names but holds module_file.
void put_module(lkpsim::PackageSpec &spec, size_t index, const std::string &module_file) {
    lkpsim::UnitSpec &unit = spec.units[index];
    unit.archive = "fix_" + std::to_string(index + 1) + ".tar.gz";
    unit.dir = "fix_" + std::to_string(index + 1);
    unit.module_file = module_file;
}

const HostileCase HOSTILE[] = {
    {"TwoTopLevelEntries", [](auto &s) { s.extra_top.emplace_back("x.txt", "x"); }, LAYOUT,
     NO_CHILD, ""},
    {"NotAnArchive", [](auto &s) { s.raw_package = "not a tar file\n"; }, NO_EXTRACTION, "", ""},
    {"StrayFile", [](auto &s) { s.extra_in_dir.emplace_back("README", "x"); }, LAYOUT,
     "[LKP-ERR]:Failed to check the patch format.", ""},
    {"NoManifest", [](auto &s) { s.content_present = false; }, LAYOUT,
     "[LKP-ERR]:open_file: The file is not existent.", ""},
    {"WrongHeadKey", [](auto &s) { edit_manifest(s, "versions:", "version:"); }, LAYOUT,
     "[LKP-ERR]:check_content_head: Line 0 is not versions:.", ""},
    {"CountMismatch", [](auto &s) { edit_manifest(s, "Units List: 2", "Units List: 3"); }, LAYOUT,
     "[LKP-ERR]:check_content_head: The total number is not match.", ""},
    {"UnitOutside", [](auto &s) { edit_manifest(s, "fix_2.tar", "../hotfix_01/fix_2.tar"); },
     LAYOUT, BAD_LIST, ""},
    {"UnitListedTwice", [](auto &s) { edit_manifest(s, "fix_2.tar.gz", "fix_1.tar.gz"); }, LAYOUT,
     BAD_LIST, ""},
    {"CrLfLineEnds", [](auto &s) { edit_manifest(s, "fix_1.tar.gz\n", "fix_1.tar.gz\r\n"); },
     LAYOUT, BAD_LIST, ""},
    {"EmptyLastLine", [](auto &s) { s.manifest = lkpsim::manifest_for(s) + "\n"; }, LAYOUT,
     BAD_LIST, ""},
    {"UnitWithTwoFiles", [](auto &s) { s.units[1].extra_in_dir.emplace_back("notes", "x"); },
     unit_problem("fix_2.tar.gz"), "", ""},
    {"UnitWithoutDir", [](auto &s) { s.units[0].module_at_top = true; },
     unit_problem("fix_1.tar.gz"), "", ""},
    {"ModuleSuffix", [](auto &s) { put_module(s, 0, "fix_1.KO"); }, unit_problem("fix_1.tar.gz"),
     "", ""},
    {"PatchNameBlank", [](auto &s) { put_module(s, 1, "fix 2.ko"); }, unit_problem("fix_2.tar.gz"),
     "", ""},
    {"TwoUnitsOnePatch", [](auto &s) { put_module(s, 1, "fix_1.ko"); },
     "units fix_1.tar.gz and fix_2.tar.gz both hold patch fix_1", "", ""},
    {"TwoUnitsOneKernelName", [](auto &s) { put_module(s, 1, "fix-1.ko"); },
     "units fix_1.tar.gz and fix_2.tar.gz both hold patch fix_1", "", ""},
    {"ModuleIsLink",
     [](auto &s) {
         put_module(s, 1, "");
         s.units[1].members = {lkpsim::TarMember::symlink("fix_2/fix_2.ko", "/etc/passwd")};
     },
     "entry fix_2.tar.gz:fix_2/fix_2.ko: a symbolic link; every entry must be a directory or a "
     "regular file",
     "[LKP-ERR]:Failed to get ko_name.", ""},
    {"ModuleIsFifo",
     [](auto &s) {
         put_module(s, 1, "");
         s.units[1].members = {lkpsim::TarMember::fifo("fix_2/fix_2.ko")};
     },
     "entry fix_2.tar.gz:fix_2/fix_2.ko: a FIFO; every entry must be a directory or a regular "
     "file",
     "", ""},
    {"ContentIsLink",
     [](auto &s) {
         s.content_present = false;
         s.members_in_dir = {lkpsim::TarMember::symlink("content", "/etc/passwd")};
     },
     "entry hotfix_01/content: a symbolic link; every entry must be a directory or a regular "
     "file\nlkpctl: check: " +
         LAYOUT,
     "[LKP-ERR]:open_file: The file is not existent.", ""},
    {"DotInPatchName", [](auto &s) { put_module(s, 1, "a.b.ko"); },
     "unit fix_2.tar.gz module fix_2/a.b.ko: the patch name must not contain '.' or a control "
     "character (module tools cut module names at the first '.')",
     "", ""},
    {"ModuleDeclaresAnotherName",
     [](auto &s) {
         put_module(s, 1, "wrongname.ko");
         s.units[1].module.name = "other";
     },
     "unit fix_2.tar.gz module fix_2/wrongname.ko: declares module name 'other', not its patch "
     "name 'wrongname'",
     "[LKP-ERR]:load_patch: The module wrongname.ko is named other.", ""},
    {"ModuleNotElf",
     [](auto &s) {
         put_module(s, 1, "");
         s.units[1].extra_in_dir = {{"fix_2.ko", "not an ELF image\n"}};
     },
     "unit fix_2.tar.gz module fix_2.ko: not an ELF relocatable object, as a kernel module is", "",
     ""},
    {"DamagedUnitArchive", [](auto &s) { s.units[0].raw_archive = "not gzip\n"; },
     unit_problem("fix_1.tar.gz"), "", ""},
};

void PrintTo(const HostileCase &c, std::ostream *os) {
    *os << c.name;
}

class LkpctlCheckTest : public ToolTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(LkpctlCheckTest, NamesTheProblem) {
    lkpsim::PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 2);
    GetParam().spoil(spec);
    const std::string file = build(spec);
    const ToolRun run = lkpctl({"check", file});
    const std::string err = check_failure(GetParam().problem);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    // What /bin/tar itself complains of comes first.
    const size_t tail = run.err.size() >= err.size() ? run.err.size() - err.size() : 0;
    EXPECT_EQ(run.err.substr(tail), err);
    const std::string before = run.err.substr(0, tail);
    if (GetParam().noise.empty()) {
        EXPECT_EQ(before, "");
    } else {
        EXPECT_NE(before.find(GetParam().noise), std::string::npos) << run.err;
    }
    const std::vector<std::string> log = lkpsim::take_log_texts();
    if (!GetParam().log.empty()) {
        EXPECT_NE(std::find(log.begin(), log.end(), GetParam().log), log.end())
            << ::testing::PrintToString(log);
    }
    EXPECT_TRUE(lkpsim::history().empty()) << "check touched the kernel";
}

INSTANTIATE_TEST_SUITE_P(Hostile, LkpctlCheckTest, ::testing::ValuesIn(HOSTILE),
                         [](const auto &info) { return std::string(info.param.name); });

// What check reads in a module beyond the load: its livepatch mark (a
// warning) and, when asked, the kernel release it was built for; names with
// "-" are listed by the kernel's name.
TEST_F(LkpctlPackTest, CheckReadsEachModule) {
    lkpsim::PackageSpec spec = lkpsim::simple_package("hotfix_01.tar.gz", 2);
    spec.units[0].module_file = "fs_fix-1.ko";
    spec.units[0].module.vermagic = "6.1.0-18-powerpc SMP mod_unload";
    spec.units[1].module.livepatch = false;
    spec.units[1].module.vermagic = "6.1.0-18-powerpc SMP mod_unload";
    const std::string file = build(spec);
    const std::string units = "  fs_fix-1.tar.gz  fs_fix_1\n  fix_2.tar.gz  fix_2\n";
    const std::string warning =
        "lkpctl: check: warning: unit fix_2.tar.gz module fix_2.ko: not marked livepatch=Y (not a "
        "live patch)\n";
    run_steps({
        {{"check", file}, 0, "hotfix_01.tar.gz: 2 unit(s)\n" + units, warning},
        {{"check", "--kernel-release", "6.1.0-18-powerpc", file},
         0,
         "hotfix_01.tar.gz: 2 unit(s)\n" + units,
         warning},
        {{"check", "--kernel-release", "6.1.0-17-powerpc", file},
         1,
         "",
         warning +
             "lkpctl: check: unit fs_fix-1.tar.gz module fs_fix-1.ko: built for kernel release "
             "'6.1.0-18-powerpc' (vermagic=), not '6.1.0-17-powerpc'\n"
             "lkpctl: check: unit fix_2.tar.gz module fix_2.ko: built for kernel release "
             "'6.1.0-18-powerpc' (vermagic=), not '6.1.0-17-powerpc'\n" +
             failure("check", -257, MSG_INVALID)},
    });
    const ToolRun json = lkpctl({"--json", "check", file});
    EXPECT_NE(json.out.find(R"x("warnings":["warning: unit fix_2.tar.gz module fix_2.ko: not )x"
                            R"x(marked livepatch=Y (not a live patch)"])x"),
              std::string::npos)
        << json.out;
}

// pack refuses what check would refuse in a module, before building anything.
TEST_F(LkpctlPackTest, PackRefusesModulesCheckWouldRefuse) {
    make_modules({{"fix_a", "ext4"}});
    ASSERT_EQ(
        run_tool(LKPSIM_PATH, {"mkmod", "-o", expand("%D/wrong.ko"), "--name", "other"}).status, 0);
    std::ofstream(expand("%D/text.ko")) << "not an ELF image\n";
    const std::pair<std::string, std::string> cases[] = {
        {"%D/wrong.ko",
         "module file %D/wrong.ko: declares module name 'other', not its patch "
         "name 'wrong'"},
        {"%D/text.ko",
         "module file %D/text.ko: not an ELF relocatable object, as a kernel "
         "module is"},
    };
    for (const auto &[module, detail] : cases) {
        run_steps({{{"pack", "-o", "%D/p.tar.gz", "%D/fix_a.ko", module},
                    1,
                    "",
                    "lkpctl: pack: " + detail + "\n" + failure("pack", -257, MSG_INVALID)}});
    }
    run_steps({{{"pack", "-o", "%D/p.tar.gz", "%D/a.b.ko"},
                2,
                "",
                "lkpctl: pack: patch name 'a.b': the patch name must not contain '.' or a control "
                "character (module tools cut module names at the first '.')\nTry 'lkpctl pack "
                "--help'.\n"}});
    EXPECT_FALSE(std::filesystem::exists(expand("%D/p.tar.gz")));
}

// check refuses exactly the package file names a load refuses: those the
// control file cannot carry, whatever their suffix.
TEST_F(LkpctlPackTest, CheckAgreesWithLoadOnPackageNames) {
    const std::string longest = std::string(56, 'p') + ".tar.gz";
    const std::string too_long = "p" + longest;
    const std::pair<std::string, std::string> cases[] = {
        {"hotfix_01.tgz", ""},
        {"hotfix_01", ""},
        {longest, ""},
        {"hot fix.tar.gz", "package name 'hot fix.tar.gz' " + BAD_CHARACTER},
        {"hot,fix.tar.gz", "package name 'hot,fix.tar.gz' " + BAD_CHARACTER},
        {too_long, "package name '" + too_long + "' is longer than 63 characters"},
    };
    // Upstream the loaded package is enabled: the removal switches it off first.
    const std::string switched_off =
        lkpsim::upstream_by_default() ? ": active: deactivated first\n" : "";
    for (const auto &[name, problem] : cases) {
        const std::string file = build(lkpsim::simple_package(name, 1));
        if (problem.empty()) {
            const std::string removed =
                (switched_off.empty() ? "" : name + switched_off) + name + ": removed\n";
            run_steps({{{"check", file}, 0, name + ": 1 unit(s)\n  fix_1.tar.gz  fix_1\n", ""},
                       {{"load", file}, 0, name + ": loaded\n", ""},
                       {{"remove", name}, 0, removed, ""}});
        } else {
            run_steps({{{"check", file}, 1, "", check_failure(problem)},
                       // The load's failure explains itself with the check's finding.
                       {{"load", file},
                        1,
                        "",
                        "lkpctl: load: " + name + ": " + problem + "\n" +
                            failure("load", -257, MSG_INVALID)}});
        }
    }
    run_steps({{{"check", "%D/absent.tar.gz"},
                1,
                "",
                "lkpctl: check: %D/absent.tar.gz does not exist\n" +
                    failure("check", -266, MSG_FILE_MISSING)}});
    EXPECT_TRUE(lkpsim::records().empty());
}

}  // namespace
}  // namespace lkptest
