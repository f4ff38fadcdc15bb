// lkpctl's kernel-facing commands, command line, help, JSON and -v output,
// each run as a subprocess on the simulated kernel side.
#include <cerrno>
#include <ostream>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const std::string PKG = "hotfix_01.tar.gz";
const std::string NO_STATE =
    "the kernel's record files cannot be read, disagree, or give a state word outside enabled, "
    "disabled and unknown (run with -v for the reasons)";

std::string usage(const std::string &command, const std::string &detail) {
    const std::string prefix = command.empty() ? "" : command + ": ";
    const std::string again = command.empty() ? "" : command + " ";
    return "lkpctl: " + prefix + detail + "\nTry 'lkpctl " + again + "--help'.\n";
}

// An unknown package name is said by name before the result line.
std::string not_loaded(const std::string &command, const std::string &name) {
    return "lkpctl: " + command + ": no package named '" + name +
           "' is loaded (see lkpctl list)\n" + failure(command, -272, MSG_NOT_LOADED);
}

using LkpctlOpsTest = ToolTest;

// A package file that is not there: named, then the result line.
std::string absent(const std::string &command) {
    return "lkpctl: " + command + ": %D/absent.tar.gz does not exist\n" +
           failure(command, -266, MSG_FILE_MISSING);
}

// Upstream the load enables the package: its state is "enabled" until it is
// deactivated, and the activation finds nothing to switch.
TEST_F(LkpctlOpsTest, PackageLifecycleReportsEachStep) {
    const bool upstream = lkpsim::upstream_by_default();
    const Expected loaded_state = upstream ? Expected{{"state", PKG}, 0, "enabled 5\n", ""}
                                           : Expected{{"state", PKG}, 3, "disabled 2\n", ""};
    build_simple(PKG, {"ext4", "nfs"});
    const std::string trial = " (trial load and removal passed)\n";
    const std::string uncovered = "lkpctl: owner: no loaded patch covers module 'tcp_cubic'\n";
    run_steps({
        {{"preload", "%D/" + PKG}, 0, PKG + ": would load" + trial, ""},
        {{"validate", "%D/" + PKG}, 0, PKG + ": valid" + trial, ""},
        {{"preload", "%D/absent.tar.gz"}, 1, "", absent("preload")},
        {{"validate", "%D/absent.tar.gz"}, 1, "", absent("validate")},
    });
    EXPECT_EQ(lkpsim::history("op").size(), 8u) << "two trial loads, each undone";
    EXPECT_TRUE(lkpsim::records().empty());
    lkpsim::clear_history();
    run_steps({
        {{"load", "%D/" + PKG}, 0, PKG + ": loaded\n", ""},
        {{"load", "%D/" + PKG},
         1,
         "",
         "lkpctl: load: " + PKG + " is already loaded (2 of 2 patches)\n" +
             failure("load", -267, MSG_ALREADY_LOADED)},
        {{"preload", "%D/" + PKG}, 0, PKG + ": would load" + trial, ""},
        {{"load", "%D/absent.tar.gz"}, 1, "", absent("load")},
        {{"--json", "load", "%D/absent.tar.gz"},
         1,
         json_line("load", -266, MSG_FILE_MISSING,
                   R"({"file":"%D/absent.tar.gz","package":"absent.tar.gz"})",
                   R"(["%D/absent.tar.gz does not exist"])"),
         absent("load")},
        loaded_state,
        {{"activate", PKG}, 0, PKG + ": activated\n", ""},
        {{"state", PKG}, 0, "enabled 5\n", ""},
        {{"state", PKG, "--json"},
         0,
         json_line("state", 0, "Success",
                   R"({"package":"hotfix_01.tar.gz","state":"enabled","number":5})"),
         ""},
        {{"owner", "nfs"}, 0, PKG + "\n", ""},
        {{"--json", "owner", "ext4"},
         0,
         json_line("owner", 0, "Success", R"({"module":"ext4","package":"hotfix_01.tar.gz"})"),
         ""},
        {{"owner", "tcp_cubic"}, 1, "", uncovered + failure("owner", -19, "No such device")},
        {{"--json", "owner", "tcp_cubic"},
         1,
         json_line("owner", -19, "No such device", R"({"module":"tcp_cubic","package":null})",
                   R"(["no loaded patch covers module 'tcp_cubic'"])"),
         uncovered + failure("owner", -19, "No such device")},
        {{"deactivate", PKG}, 0, PKG + ": deactivated\n", ""},
        {{"state", PKG}, 3, "disabled 2\n", ""},
        {{"remove", PKG}, 0, PKG + ": removed\n", ""},
        {{"remove", PKG}, 1, "", not_loaded("remove", PKG)},
        {{"activate", PKG}, 1, "", not_loaded("activate", PKG)},
        {{"deactivate", PKG}, 1, "", not_loaded("deactivate", PKG)},
        {{"state", PKG}, 4, "unknown 0\n", ""},
    });
    // The tool drove the kernel: every op line and switch, in order.
    const std::string op = ",2," + PKG + ",fix_";
    EXPECT_EQ(lkpsim::history("op"),
              (std::vector<std::string>{"op add" + op + "1", "op add" + op + "2",
                                        "op rm" + op + "2", "op rm" + op + "1"}));
    std::vector<std::string> switches{"enable fix_2 0", "enable fix_1 0"};
    if (!upstream) {
        switches.insert(switches.begin(), {"enable fix_1 1", "enable fix_2 1"});
    }
    EXPECT_EQ(lkpsim::history("enable"), switches);
    EXPECT_TRUE(lkpsim::records().empty());
}

// Scenes arranged on the kernel side behind the tool's back; "p.tar.gz" with
// fix_1 and fix_2 is loaded unless the scene says otherwise.
struct SceneCase {
    const char *name;
    void (*arrange)();
    Expected want;
};

const SceneCase SCENES[] = {
    {"StateInvalid",
     [] { lkpsim::set_patch_state("fix_2", "patching"); },
     {{"state", "p.tar.gz"},
      1,
      "invalid 9\n",
      "lkpctl: state: " + NO_STATE + "\n" + failure("state", 9, "No valid state.")}},
    {"StateInvalidJson",
     [] { lkpsim::set_patch_state("fix_2", "patching"); },
     {{"--json", "state", "p.tar.gz"},
      1,
      json_line("state", 9, "No valid state.",
                R"({"package":"p.tar.gz","state":"invalid","number":9})", "[\"" + NO_STATE + "\"]"),
      "lkpctl: state: " + NO_STATE + "\n" + failure("state", 9, "No valid state.")}},
    // A refusal that waiting does not change (a busy one is tried again).
    {"RemoveRefused",
     [] { lkpsim::fail_next_delete(EPERM); },
     {{"remove", "p.tar.gz"}, 1, "", failure("remove", -1, "Operation not permitted")}},
    {"ActivateRefused",
     [] { lkpsim::refuse_next_enable(); },
     {{"activate", "p.tar.gz"}, 1, "", failure("activate", -270, "Failed to close file.")}},
    {"OwnerWithoutManager",
     [] { lkpsim::set_manager(lkpsim::Manager::AbsentMissing); },
     {{"owner", "ext4"},
      1,
      "",
      "lkpctl: owner: " + manager_missing() + "\n" +
          failure("owner", -2, "No such file or directory")}},
    {"ListOfDisagreeingFiles",
     [] { lkpsim::set_raw_state("no head\n"); },
     {{"list"},
      1,
      "",
      "lkpctl: list: cannot read the control and state files, or they disagree (run with -v for "
      "the reasons)\n" +
          failure("list", -257, MSG_INVALID)}},
};

void PrintTo(const SceneCase &c, std::ostream *os) {
    *os << c.name;
}

class LkpctlSceneTest : public ToolTest, public ::testing::WithParamInterface<SceneCase> {};

// Upstream the inserted patches are enabled: a removal switches them off
// first and says so, and there is no disabled package to activate.
TEST_P(LkpctlSceneTest, ReportsTheFailure) {
    const bool upstream = lkpsim::upstream_by_default();
    if (upstream && GetParam().want.args[0] == "activate") {
        GTEST_SKIP() << "default kernel model only: upstream a disabled patch is freed, so no "
                        "package waits disabled for its activation";
    }
    for (const char *patch : {"fix_1", "fix_2"}) {
        lkpsim::insert_patch(patch);
        lkpsim::register_patch(2, "p.tar.gz", patch);
    }
    GetParam().arrange();
    Expected want = GetParam().want;
    if (upstream && want.args[0] == "remove") {
        want.out = "p.tar.gz: active: deactivated first\n" + want.out;
    }
    expect_run(lkpctl(want.args), want);
}

INSTANTIATE_TEST_SUITE_P(Scenes, LkpctlSceneTest, ::testing::ValuesIn(SCENES),
                         [](const auto &info) { return std::string(info.param.name); });

// (Upstream a live patch module inserted alone holds itself until its patch
// is switched off: "solo" is a plain module there.)
TEST_F(LkpctlOpsTest, InsmodAndRmmodOneModule) {
    lkpsim::ModuleSpec module;
    module.name = "solo";
    module.livepatch = !lkpsim::upstream_by_default();
    ASSERT_TRUE(lkpsim::write_module_file(scratch_dir() + "/solo.ko", module));
    const std::string no_file = "No such file or directory";
    run_steps({
        {{"insmod", "%D/solo.ko"}, 0, "%D/solo.ko: inserted\n", ""},
        {{"insmod", "%D/solo.ko"}, 1, "", failure("insmod", -17, "File exists")},
        {{"rmmod", "solo.ko"}, 0, "solo.ko: removed\n", ""},
        {{"rmmod", "solo"}, 1, "", failure("rmmod", -2, no_file)},
        {{"--json", "insmod", "%D/none.ko"},
         1,
         json_line("insmod", -2, no_file, R"({"module":"%D/none.ko"})"),
         failure("insmod", -2, no_file)},
    });
    EXPECT_EQ(lkpsim::history("init"), (std::vector<std::string>{"init solo 0", "init solo -17"}));
    EXPECT_FALSE(lkpsim::module_inserted("solo"));
}

TEST_F(LkpctlOpsTest, StrerrorAndUsageErrors) {
    const std::string not_code = "CODE must be a decimal number in the signed 32-bit range, not ";
    const std::string no_operand = "missing operand; usage: lkpctl remove NAME";
    run_steps({
        {{"strerror", "-267"}, 0, std::string(MSG_ALREADY_LOADED) + "\n", ""},
        {{"strerror", "0"}, 0, "Success\n", ""},
        {{"--json", "strerror", "-2"},
         0,
         json_line("strerror", 0, "Success", R"({"code":-2,"text":"No such file or directory"})"),
         ""},
        {{"strerror", "x"}, 2, "", usage("strerror", not_code + "'x'")},
        {{"strerror", "2147483648"}, 2, "", usage("strerror", not_code + "'2147483648'")},
        {{}, 2, "", usage("", "no command given")},
        {{"frob"}, 2, "", usage("", "unknown command 'frob'")},
        {{"--frob"}, 2, "", usage("", "unknown option '--frob'")},
        {{"load"}, 2, "", usage("load", "missing operand; usage: lkpctl load PKG")},
        {{"state", "a", "b"}, 2, "", usage("state", "unexpected operand 'b'")},
        {{"list", "x"}, 2, "", usage("list", "unexpected operand 'x'")},
        {{"load", "--bogus", "x"}, 2, "", usage("load", "unknown option '--bogus'")},
        {{"pack", "-o"}, 2, "", usage("pack", "option '-o' needs a value")},
        {{"--json", "remove"},
         2,
         json_line("remove", -257, "usage: " + no_operand, "{}", "[\"" + no_operand + "\"]"),
         usage("remove", no_operand)},
    });
    EXPECT_TRUE(lkpsim::history().empty()) << "a usage error reached the kernel";
}

TEST_F(LkpctlOpsTest, HelpForTheToolAndEachCommand) {
    const std::vector<std::string> commands = {
        "load", "preload", "validate", "activate", "deactivate", "state", "remove",
        "list", "owner",   "insmod",   "rmmod",    "strerror",   "pack",  "check"};
    for (const char *flag : {"--help", "-h"}) {
        const ToolRun run = lkpctl({flag});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind("Usage: lkpctl [--json] [-v] [--no-wait] COMMAND [ARGS...]\n", 0),
                  0u);
        for (const std::string &command : commands) {
            EXPECT_NE(run.out.find("\n  " + command + " "), std::string::npos) << command;
        }
    }
    for (const std::string &command : commands) {
        for (const auto &args : {std::vector<std::string>{command, "--help"},
                                 std::vector<std::string>{"-h", command, "extra", "operands"}}) {
            const ToolRun run = lkpctl(args);
            SCOPED_TRACE(args[0] + " " + args[1]);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.out.rfind("Usage: lkpctl " + command, 0), 0u) << run.out;
        }
    }
    EXPECT_TRUE(lkpsim::history().empty());
}

TEST_F(LkpctlOpsTest, ListShowsPackagesAndPatchesInRegistrationOrder) {
    run_steps({
        {{"list"}, 0, "no packages registered\n", ""},
        {{"list", "--json"}, 0, json_line("list", 0, "Success", R"({"packages":[]})"), ""},
    });
    lkpsim::PackageSpec second = lkpsim::simple_package("b.tar.gz", 2);
    second.units[0].module_file = "zeta.ko";
    second.units[1].module_file = "alpha.ko";
    build(second);
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    // Upstream the load enabled b.tar.gz too.
    const std::string b = lkpsim::upstream_by_default() ? "enabled" : "disabled";
    run_steps({
        {{"load", "%D/b.tar.gz"}, 0, "b.tar.gz: loaded\n", ""},
        {{"load", "%D/a.tar.gz"}, 0, "a.tar.gz: loaded\n", ""},
        {{"activate", "a.tar.gz"}, 0, "a.tar.gz: activated\n", ""},
        {{"list"},
         0,
         "PACKAGE (STATE)\n  PATCH  STATE\n"
         "b.tar.gz (" +
             b + ")\n  zeta   " + b + "\n  alpha  " + b +
             "\n"
             "a.tar.gz (enabled)\n  afix_1  enabled\n",
         ""},
        {{"--json", "list"},
         0,
         json_line(
             "list", 0, "Success",
             R"({"packages":[{"name":"b.tar.gz","state":")" + b +
                 R"(","patches":[)"
                 R"({"name":"zeta","state":")" +
                 b + R"("},{"name":"alpha","state":")" + b +
                 R"("}],)"
                 R"("units":2,"partial":false},{"name":"a.tar.gz","state":"enabled","patches":[)"
                 R"({"name":"afix_1","state":"enabled"}],"units":1,"partial":false}]})"),
         ""},
    });
}

// -v copies exactly the library's log lines to stderr, ahead of the tool's own.
// The same sequence runs without and with -v; it ends with nothing loaded.
TEST_F(LkpctlOpsTest, VerboseCopiesTheLibraryLog) {
    build_simple(PKG, {"nfs"});
    const std::string uncovered = "lkpctl: owner: no loaded patch covers module 'ext4'\n";
    const Expected cases[] = {
        {{"load", "%D/absent.tar.gz"}, 1, "", absent("load")},
        {{"load", "%D/" + PKG}, 0, PKG + ": loaded\n", ""},
        {{"owner", "ext4"}, 1, "", uncovered + failure("owner", -19, "No such device")},
        // Upstream the loaded package is enabled: the tool switches it off first.
        {{"remove", PKG},
         0,
         (lkpsim::upstream_by_default() ? PKG + ": active: deactivated first\n" : "") + PKG +
             ": removed\n",
         ""},
    };
    for (const bool verbose : {false, true}) {
        for (const Expected &c : cases) {
            std::vector<std::string> args = c.args;
            args.insert(args.begin(), verbose ? "-v" : "--");
            const ToolRun run = lkpctl(args);
            const std::vector<std::string> log = lkpsim::take_log_texts();
            ASSERT_FALSE(log.empty()) << args[0] << " " << args[1];
            std::string copied;
            for (const std::string &text : log) {
                // The C library ends each copy with a line feed of its own.
                copied += "lkpctl: " + text + "\n";
            }
            expect_run(run, {args, c.status, c.out, (verbose ? copied : "") + expand(c.err)});
        }
    }
}

}  // namespace
}  // namespace lkptest
