// lkpctl pack and check: building packages from module files, refusing names
// the control file cannot carry, and naming what is wrong with hostile
// packages, without touching the kernel.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
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
                   R"({"archive":"fix_b.tar.gz","patch":"fix_b"}],"problems":[]})"),
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
           "patch name of 1 to 63 characters with no comma, blank, TAB or newline (run with -v "
           "for the reasons)";
}
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
    {"NotAnArchive", [](auto &s) { s.raw_package = "not a tar file\n"; }, LAYOUT, NO_CHILD,
     "not in gzip format"},
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
    for (const auto &[name, problem] : cases) {
        const std::string file = build(lkpsim::simple_package(name, 1));
        if (problem.empty()) {
            run_steps({{{"check", file}, 0, name + ": 1 unit(s)\n  fix_1.tar.gz  fix_1\n", ""},
                       {{"load", file}, 0, name + ": loaded\n", ""},
                       {{"remove", name}, 0, name + ": removed\n", ""}});
        } else {
            run_steps({{{"check", file}, 1, "", check_failure(problem)},
                       {{"load", file}, 1, "", failure("load", -257, MSG_INVALID)}});
        }
    }
    run_steps({{{"check", "%D/absent.tar.gz"},
                1,
                "",
                "lkpctl: check: %D/absent.tar.gz is not a regular file\n" +
                    failure("check", -266, MSG_FILE_MISSING)}});
    EXPECT_TRUE(lkpsim::records().empty());
}

}  // namespace
}  // namespace lkptest
