// lkpctl speaking the conventions operators know: partially loaded packages
// found and mended, state and status answering with their exit status,
// remove deactivating first, help, pack's name rules, and explanations that
// name the real cause, each run as a subprocess on the simulated kernel side.

#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const char *const MSG_TARGET = "The target has not been loaded.";
const char *const MSG_INTERRUPTED = "Interrupted system call";

class LkpctlConventionsTest : public ToolTest {
protected:
    // big.tar.gz: three units, big_1 .. big_3; of them only big_1 and big_2
    // registered, as a load killed half-way leaves them.
    void arrange_partial() {
        build_simple("big.tar.gz", {"vmlinux", "ext4", "nfs"}, "big_");
        for (const char *patch : {"big_1", "big_2"}) {
            lkpsim::insert_patch(patch);
            lkpsim::register_patch(3, "big.tar.gz", patch);
            lkpsim::set_patch_state(patch, "enabled");
        }
        lkpsim::clear_history();
    }
};

std::string partial_said(const std::string &command) {
    return "lkpctl: " + command +
           ": big.tar.gz is partially loaded (2 of 3 patches: big_1, big_2): take it out with "
           "'lkpctl remove big.tar.gz' and load it again, or run 'lkpctl boot' if it is "
           "installed\n";
}

TEST_F(LkpctlConventionsTest, LoadComparesALoadedPackageWithItsUnits) {
    arrange_partial();
    run_steps({
        {{"load", "%D/big.tar.gz"},
         1,
         "",
         partial_said("load") + failure("load", -267, MSG_ALREADY_LOADED)},
        {{"list"},
         0,
         "PACKAGE (STATE)\n  PATCH  STATE\nbig.tar.gz (enabled, partially loaded: 2 of 3 "
         "patches)\n  big_1  enabled\n  big_2  enabled\n",
         ""},
        {{"--json", "list"},
         0,
         json_line("list", 0, "Success",
                   R"({"packages":[{"name":"big.tar.gz","state":"enabled","patches":[)"
                   R"({"name":"big_1","state":"enabled"},{"name":"big_2","state":"enabled"}],)"
                   R"("units":3,"partial":true}]})"),
         ""},
    });
    EXPECT_TRUE(lkpsim::history("op").empty());

    // A whole package: already loaded, every patch in.
    build_simple("whole.tar.gz", {"ext4", "nfs"}, "w_");
    run_steps({
        {{"load", "%D/whole.tar.gz"}, 0, "whole.tar.gz: loaded\n", ""},
        {{"load", "%D/whole.tar.gz"},
         1,
         "",
         "lkpctl: load: whole.tar.gz is already loaded (2 of 2 patches)\n" +
             failure("load", -267, MSG_ALREADY_LOADED)},
    });
}

TEST_F(LkpctlConventionsTest, StatusMarksAPartialPackageAndBootLoadsItAgain) {
    LKPTEST_DEFAULT_KERNEL_ONLY(
        "its partial package is arranged disabled and activated by boot; "
        "upstream a disabled patch is freed");
    arrange_partial();
    ASSERT_EQ(lkpctl({"install", "--root", "%D/root", "%D/big.tar.gz"}).status, 0);
    const std::string finding =
        "big.tar.gz is partially loaded (2 of 3 patches): lkpctl boot loads it again when it is "
        "installed; else lkpctl remove it and load it again";
    run_steps({
        {{"status", "--root", "%D/root"},
         3,
         "needs an operator: " + finding + "\nkernel release: " + running_release() +
             "\nlive patching: supported\npatch manager: loaded\nloaded packages:\n"
             "  big.tar.gz (enabled, partially loaded: 2 of 3 patches)\n"
             "    big_1  enabled\n    big_2  enabled\n"
             "installed packages (" +
             store() + ", boot order):\n  big.tar.gz  loaded, enabled\nneeds an operator:\n  " +
             finding + "\n",
         ""},
        {{"--json", "status", "--root", "%D/root"},
         3,
         json_line("status", 0, "Success",
                   R"({"release":")" + running_release() +
                       R"(","livepatch":true,"manager":true,"loaded":[{"name":"big.tar.gz",)"
                       R"("state":"enabled","patches":[{"name":"big_1","state":"enabled"},)"
                       R"({"name":"big_2","state":"enabled"}],"units":3,"partial":true}],)"
                       R"("in_transition":[],"store":")" +
                       store() +
                       R"(","installed":[{"name":"big.tar.gz","loaded":true,"state":"enabled"}],)"
                       R"("findings":[{"kind":"partial","package":"big.tar.gz","text":")" +
                       finding + R"("}]})"),
         ""},
        // Deactivated (it is active), removed, loaded again from the store.
        {{"boot", "--root", "%D/root"},
         0,
         "big.tar.gz: reloaded (was partially loaded: 2 of 3 patches)\n",
         ""},
    });
    EXPECT_EQ(lkpsim::history("op"),
              (std::vector<std::string>{// The removal numbers its lines with the patches it finds.
                                        "op rm,2,big.tar.gz,big_2", "op rm,2,big.tar.gz,big_1",
                                        "op add,3,big.tar.gz,big_1", "op add,3,big.tar.gz,big_2",
                                        "op add,3,big.tar.gz,big_3"}));
    EXPECT_EQ(lkpsim::history("enable"),
              (std::vector<std::string>{"enable big_2 0", "enable big_1 0", "enable big_1 1",
                                        "enable big_2 1", "enable big_3 1"}));
    run_steps({{{"status", "--root", "%D/root"},
                0,
                "kernel release: " + running_release() +
                    "\nlive patching: supported\npatch manager: loaded\nloaded packages:\n"
                    "  big.tar.gz (enabled)\n    big_1  enabled\n    big_2  enabled\n"
                    "    big_3  enabled\ninstalled packages (" +
                    store() + ", boot order):\n  big.tar.gz  loaded, enabled\n",
                ""}});
}

// Every kind of finding: the exit status is 3 and the first line says the
// first one; each is listed at the end.
TEST_F(LkpctlConventionsTest, StatusSaysWhatNeedsAnOperator) {
    LKPTEST_DEFAULT_KERNEL_ONLY(
        "its patch in transition is that of an activation after the load; "
        "upstream the load itself enables the package "
        "(LkpctlTransitionTest.StalledLoadIsDisabledAndRemoved)");
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    run_steps({
        {{"install", "--root", "%D/root", "%D/c.tar.gz"},
         0,
         "c.tar.gz: installed\nboot order: c.tar.gz\n",
         ""},
        {{"load", "%D/a.tar.gz"}, 0, "a.tar.gz: loaded\n", ""},
    });
    const std::string not_installed =
        "a.tar.gz is loaded but not installed, so it is lost at the next reboot: lkpctl install "
        "its file, or remove it";
    const std::string not_loaded = "c.tar.gz is installed but not loaded: run lkpctl boot";
    run_steps({{{"status", "--root", "%D/root"},
                3,
                "needs an operator: " + not_loaded +
                    " (and 1 more below)\nkernel release: " + running_release() +
                    "\nlive patching: supported\npatch manager: loaded\nloaded packages:\n"
                    "  a.tar.gz (disabled)\n    afix_1  disabled\ninstalled packages (" +
                    store() + ", boot order):\n  c.tar.gz  not loaded\nneeds an operator:\n  " +
                    not_loaded + "\n  " + not_installed + "\n",
                ""}});
    // Another release's store is not compared with what is loaded now.
    const ToolRun other = lkpctl({"status", "--root", "%D/root", "--kernel-release", "0.0-other"});
    EXPECT_EQ(other.status, 0) << other.out;

    // A patch in transition.
    lkpsim::set_transition_scene(lkpsim::TransitionScene::AfterSignal);
    ASSERT_EQ(lkpctl({"activate", "a.tar.gz"}).status, 0);
    const ToolRun moving = lkpctl({"--json", "status"});
    EXPECT_EQ(moving.status, 3);
    EXPECT_NE(
        moving.out.find(R"({"kind":"in-transition","package":"a.tar.gz","text":"patch afix_1 of )"
                        R"(a.tar.gz is in transition; if it stays so, see docs/transitions.md"})"),
        std::string::npos)
        << moving.out;
    lkpsim::set_transition_scene(lkpsim::TransitionScene::Instant);
    ASSERT_EQ(lkpctl({"deactivate", "a.tar.gz", "--wait=5"}).status, 0);

    // No patch manager: said first, with how to load it.
    ASSERT_EQ(lkpctl({"remove", "a.tar.gz"}).status, 0);
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    const ToolRun no_manager = lkpctl({"status", "--root", "%D/empty"});
    EXPECT_EQ(no_manager.status, 3);
    EXPECT_EQ(no_manager.out.substr(0, no_manager.out.find('\n') + 1),
              "needs an operator: " + manager_missing() + "\n");
}

// (Upstream the load enables the package, and its deactivation disables it.)
TEST_F(LkpctlConventionsTest, StateAnswersWithItsExitStatus) {
    build_simple("s.tar.gz", {"ext4"});
    const Expected enabled{{"state", "s.tar.gz"}, 0, "enabled 5\n", ""};
    const Expected disabled{{"state", "s.tar.gz"}, 3, "disabled 2\n", ""};
    const Expected disabled_json{
        {"--json", "state", "s.tar.gz"},
        3,
        json_line("state", 0, "Success", R"({"package":"s.tar.gz","state":"disabled","number":2})"),
        ""};
    run_steps({
        {{"state", "s.tar.gz"}, 4, "unknown 0\n", ""},
        {{"load", "%D/s.tar.gz"}, 0, "s.tar.gz: loaded\n", ""},
    });
    if (lkpsim::upstream_by_default()) {
        run_steps({enabled,
                   {{"deactivate", "s.tar.gz"}, 0, "s.tar.gz: deactivated\n", ""},
                   disabled,
                   disabled_json});
    } else {
        run_steps({disabled,
                   disabled_json,
                   {{"activate", "s.tar.gz"}, 0, "s.tar.gz: activated\n", ""},
                   enabled});
    }
    lkpsim::set_patch_state("fix_1", "weird");
    run_steps({{{"state", "s.tar.gz"},
                1,
                "invalid 9\n",
                "lkpctl: state: the kernel's record files cannot be read, disagree, or give a "
                "state word outside enabled, disabled and unknown (run with -v for the "
                "reasons)\n" +
                    failure("state", 9, "No valid state.")}});
}

TEST_F(LkpctlConventionsTest, RemoveDeactivatesAnActivePackageFirst) {
    build_simple("r.tar.gz", {"ext4", "nfs"});
    run_steps({
        {{"load", "%D/r.tar.gz"}, 0, "r.tar.gz: loaded\n", ""},
        {{"activate", "r.tar.gz"}, 0, "r.tar.gz: activated\n", ""},
    });
    lkpsim::clear_history();
    run_steps({{{"remove", "r.tar.gz"},
                0,
                "r.tar.gz: active: deactivated first\nr.tar.gz: removed\n",
                ""}});
    EXPECT_EQ(lkpsim::history("enable"),
              (std::vector<std::string>{"enable fix_2 0", "enable fix_1 0"}));
    EXPECT_EQ(lkpsim::history("op"),
              (std::vector<std::string>{"op rm,2,r.tar.gz,fix_2", "op rm,2,r.tar.gz,fix_1"}));
    // A disabled one is removed as it is.
    run_steps({
        {{"load", "%D/r.tar.gz"}, 0, "r.tar.gz: loaded\n", ""},
        {{"--json", "remove", "r.tar.gz"},
         0,
         json_line("remove", 0, "Success", R"({"package":"r.tar.gz"})"),
         ""},
        {{"remove", "r.tar.gz"},
         1,
         "",
         "lkpctl: remove: no package named 'r.tar.gz' is loaded (see lkpctl list)\n" +
             failure("remove", -272, MSG_NOT_LOADED)},
    });
}

TEST_F(LkpctlConventionsTest, HelpCommandAndVersionAnywhere) {
    const ToolRun tool_help = lkpctl({"--help"});
    const ToolRun load_help = lkpctl({"load", "--help"});
    run_steps({
        {{"help"}, 0, tool_help.out, ""},
        {{"help", "load"}, 0, load_help.out, ""},
        {{"help", "nosuch"},
         2,
         "",
         "lkpctl: help: unknown command 'nosuch'\nTry 'lkpctl help --help'.\n"},
        {{"status", "--version"}, 0, "lkpctl " TESVAR_VERSION "\n", ""},
        {{"--wait", "list"},
         2,
         "",
         "lkpctl: list: --wait is for load, activate, deactivate, remove and boot, not list\n"
         "Try 'lkpctl list --help'.\n"},
    });
    EXPECT_NE(tool_help.out.find("  --wait[=SECONDS]  load, activate, deactivate, remove, boot"),
              std::string::npos)
        << tool_help.out;
    EXPECT_NE(tool_help.out.find("\n  help [COMMAND]"), std::string::npos);
    EXPECT_NE(tool_help.out.find("state: 3 disabled, 4 not loaded"), std::string::npos);
}

TEST_F(LkpctlConventionsTest, PackKeepsToNamesTheUpdateEngineCarries) {
    lkpsim::ModuleSpec module;
    module.name = "f";
    ASSERT_TRUE(lkpsim::write_module_file(scratch_dir() + "/f.ko", module));
    const std::string rule =
        "' holds a character other than letters, digits, '.', '_' and '-', which the update "
        "engine cannot carry (--any-name allows it for a package that never goes through it)\n";
    for (const std::string name : {"a;b", "a$b", "a*b", "a'b", "a\"b", "a&b", "a|b", "a<b", "a?b",
                                   "a[b", "a`b", "caf\xc3\xa9", "a\\b"}) {
        const std::string file = name + ".tar.gz";
        expect_run(lkpctl({"pack", "-o", "%D/" + file, "%D/f.ko"}),
                   {{"pack", file},
                    2,
                    "",
                    "lkpctl: pack: package name '" + file + rule + "Try 'lkpctl pack --help'.\n"});
    }
    const std::string dash =
        "lkpctl: pack: package name '-x.tar.gz' starts with '-', which "
        "commands read as an option\nTry 'lkpctl pack --help'.\n";
    run_steps({
        {{"pack", "-o", "%D/-x.tar.gz", "%D/f.ko"}, 2, "", dash},
        {{"pack", "--any-name", "-o", "%D/-x.tar.gz", "%D/f.ko"}, 2, "", dash},
        {{"pack", "--any-name=yes", "-o", "%D/a.tar.gz", "%D/f.ko"},
         2,
         "",
         "lkpctl: pack: option '--any-name' takes no value\nTry 'lkpctl pack --help'.\n"},
        {{"pack", "--any-name", "-o", "%D/a;b.tar.gz", "%D/f.ko"},
         0,
         "%D/a;b.tar.gz: package a;b.tar.gz, 1 unit(s)\n  f.tar.gz  f\n",
         ""},
        {{"pack", "-o", "%D/Fix-1.2_b.tar.gz", "%D/f.ko"},
         0,
         "%D/Fix-1.2_b.tar.gz: package Fix-1.2_b.tar.gz, 1 unit(s)\n  f.tar.gz  f\n",
         ""},
    });
    EXPECT_FALSE(file_bytes(expand("%D/a;b.tar.gz")).empty());
    EXPECT_TRUE(file_bytes(expand("%D/a$b.tar.gz")).empty()) << "a refused name wrote a file";
}

TEST_F(LkpctlConventionsTest, ExplanationsNameTheRealCause) {
    // No patch manager and no file: the file is what is missing.
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    run_steps({
        {{"load", "%D/nosuch.tar.gz"},
         1,
         "",
         "lkpctl: load: %D/nosuch.tar.gz does not exist\n" +
             failure("load", -266, MSG_FILE_MISSING)},
        {{"info", "%D/nosuch.tar.gz"},
         1,
         "",
         "lkpctl: info: %D/nosuch.tar.gz does not exist\n" +
             failure("info", -266, MSG_FILE_MISSING)},
    });
    lkpsim::set_manager(lkpsim::Manager::Loaded);

    // A unit whose target module is not loaded: the unit and the module named.
    build_simple("t.tar.gz", {"vmlinux", "lkp_absent_mod"});
    run_steps({{{"load", "%D/t.tar.gz"},
                1,
                "",
                "lkpctl: load: t.tar.gz: unit fix_2.tar.gz (patch fix_2) needs module "
                "lkp_absent_mod, which is not loaded: load it first\n" +
                    failure("load", -265, MSG_TARGET)}});
    EXPECT_TRUE(lkpsim::records().empty());
    // Two candidates: both named.
    build_simple("u.tar.gz", {"lkp_absent_one", "nfs"}, "u_");
    lkpsim::set_target_loaded("nfs", false);
    run_steps({{{"load", "%D/u.tar.gz"},
                1,
                "",
                "lkpctl: load: u.tar.gz: one of these modules is not loaded: unit u_1.tar.gz "
                "(patch u_1) needs module lkp_absent_one; unit u_2.tar.gz (patch u_2) needs "
                "module nfs\n" +
                    failure("load", -265, MSG_TARGET)}});
    // Once the module is there, the same package loads.
    lkpsim::set_target_loaded("nfs", true);
    lkpsim::set_target_loaded("lkp_absent_one", true);
    run_steps({{{"load", "%D/u.tar.gz"}, 0, "u.tar.gz: loaded\n", ""}});

    // A module that declares no target and whose start answers ENOPKG (as a
    // real kernel's patch module can): said, without naming a module.
    lkpsim::PackageSpec plain = lkpsim::simple_package("plain.tar.gz", 1, "plain_");
    plain.units[0].module.targets.clear();
    build(plain);
    lkpsim::fail_next_init(65, "plain_1");
    run_steps({{{"load", "%D/plain.tar.gz"},
                1,
                "",
                "lkpctl: load: plain.tar.gz: the module of one unit refused to start because a "
                "module it patches is not loaded; its modules do not declare which "
                "(lkp_target=)\n" +
                    failure("load", -265, MSG_TARGET)}});
}

// Record files that cannot be read: status fails (1) and says so, as a
// finding too.
TEST_F(LkpctlConventionsTest, StatusWithUnreadableRecordFiles) {
    lkpsim::set_raw_control("not a record\n");
    const ToolRun run = lkpctl({"--json", "status", "--root", "%D/root"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(R"("findings":[{"kind":"records-unreadable","package":null,"text":)"
                           R"("the control and state files cannot be read, or they disagree"}])"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.err,
              "lkpctl: status: cannot read the control and state files, or they disagree (run "
              "with -v for the reasons)\n" +
                  failure("status", -257, MSG_INVALID));
}

// docs/fleet.md's check of the modules' release, as written there.
TEST_F(LkpctlConventionsTest, FleetReleaseCheckWorksAsDocumented) {
    const std::string lkpsim_tool = built_program(LKPSIM_PATH);
    ASSERT_EQ(
        run_tool(lkpsim_tool, {"mkmod", "-o", expand("%D/fix_b.ko"), "--name", "fix_b", "--target",
                               "nfs", "--vermagic", "6.1.0-18-amd64 SMP mod_unload"})
            .status,
        0);
    ASSERT_EQ(lkpctl({"pack", "-o", "%D/hotfix_02.tar.gz", "--version", "2.0", "--description",
                      "nfs fix", "%D/fix_b.ko"})
                  .status,
              0);
    run_steps({
        {{"check", "%D/hotfix_02.tar.gz", "--kernel-release", "6.1.0-18-amd64"},
         0,
         "hotfix_02.tar.gz: 1 unit(s)\n  fix_b.tar.gz  fix_b\n",
         ""},
    });
    const ToolRun other = lkpctl({"check", "%D/hotfix_02.tar.gz", "--kernel-release", "6.1.0-99"});
    EXPECT_EQ(other.status, 1);
}

}  // namespace
}  // namespace lkptest
