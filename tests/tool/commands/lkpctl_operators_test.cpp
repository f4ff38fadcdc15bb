// The operator's lkpctl: the installed store and boot after a "reboot" (a
// fresh simulated kernel), status, info, and failures that explain
// themselves, each run as a subprocess on the simulated kernel side.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const std::string BAD_NAME = "bad.tar.gz";
const std::string NOT_LOADED_C = "c.tar.gz is installed but not loaded: run lkpctl boot";
const std::string BAD_FINDING =
    "unit fix_1.tar.gz module fix_1/fix_1.ko: declares module name 'other', not its patch name "
    "'fix_1'";

class LkpctlOperatorsTest : public ToolTest {
protected:
    // Three packages: a.tar.gz and c.tar.gz load; bad.tar.gz's module
    // declares a name other than its patch name, which the kernel refuses.
    void build_three() {
        build_simple("a.tar.gz", {"ext4"}, "afix_");
        build_simple("c.tar.gz", {"nfs"}, "cfix_");
        lkpsim::PackageSpec bad = lkpsim::simple_package(BAD_NAME, 1);
        bad.units[0].module.name = "other";
        build(bad);
    }
    std::vector<std::string> store_args(std::vector<std::string> args) {
        args.emplace_back("--root");
        args.emplace_back("%D/root");
        return args;
    }
    std::string order_file() { return file_bytes(expand(store() + "/order")); }
    std::set<std::string> store_entries() {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(expand(store()))) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

std::string boot_failure_line() {
    return "bad.tar.gz: failed: -257: " + std::string(MSG_INVALID) + ": " + BAD_FINDING + "\n";
}

std::string boot_failure_err() {
    return "lkpctl: boot: 1 of 3 installed packages failed\n" + failure("boot", -257, MSG_INVALID);
}

TEST_F(LkpctlOperatorsTest, BootAppliesTheInstalledPackagesInOrderAfterAReboot) {
    LKPTEST_DEFAULT_KERNEL_ONLY(
        "boot activates a package that stays loaded and disabled over the reboot; upstream that "
        "package is freed and boot loads it again "
        "(ActivateLoadsAFreedPackageAgainFromTheStore, BootLoadsEveryPackageOnAnUpstreamKernel)");
    build_three();
    run_steps({
        {store_args({"install", "%D/a.tar.gz", "%D/bad.tar.gz", "%D/c.tar.gz"}), 0,
         "a.tar.gz: installed\nbad.tar.gz: installed\nc.tar.gz: installed\n"
         "boot order: a.tar.gz, bad.tar.gz, c.tar.gz\n",
         ""},
    });
    EXPECT_EQ(order_file(), "a.tar.gz\nbad.tar.gz\nc.tar.gz\n");
    EXPECT_EQ(file_bytes(expand(store() + "/c.tar.gz")), file_bytes(expand("%D/c.tar.gz")));
    EXPECT_TRUE(lkpsim::history("op").empty()) << "install does not touch the kernel";

    // A reboot: a fresh kernel, the store kept, the patch manager module not
    // yet loaded (the first load inserts it).
    lkpsim::reset();
    lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
    run_steps({{store_args({"boot"}), 1,
                "a.tar.gz: applied\n" + boot_failure_line() + "c.tar.gz: applied\n",
                boot_failure_err()}});
    EXPECT_EQ(lkpsim::history("op"),
              (std::vector<std::string>{"op add,1,a.tar.gz,afix_1", "op add,1,c.tar.gz,cfix_1"}));
    EXPECT_EQ(lkpsim::patch_state("afix_1"), "enabled");
    EXPECT_EQ(lkpsim::patch_state("cfix_1"), "enabled");

    // A second boot changes nothing that is applied, and says so.
    lkpsim::clear_history();
    run_steps({{store_args({"boot"}), 1,
                "a.tar.gz: already active\n" + boot_failure_line() + "c.tar.gz: already active\n",
                boot_failure_err()}});
    EXPECT_TRUE(lkpsim::history("op").empty());
    EXPECT_TRUE(lkpsim::history("enable").empty());

    // A loaded but disabled package is activated, not loaded again.
    run_steps({{{"deactivate", "c.tar.gz"}, 0, "c.tar.gz: deactivated\n", ""},
               {store_args({"uninstall", BAD_NAME}), 0,
                "bad.tar.gz: uninstalled\nboot order: a.tar.gz, c.tar.gz\n", ""},
               {store_args({"--json", "boot"}), 0,
                json_line("boot", 0, "Success",
                          R"({"store":")" + store() +
                              R"(","packages":[{"name":"a.tar.gz","action":"already active",)"
                              R"("result":0,"message":"Success"},{"name":"c.tar.gz","action":)"
                              R"("activated","result":0,"message":"Success"}]})"),
                ""}});
    EXPECT_EQ(lkpsim::patch_state("cfix_1"), "enabled");
}

TEST_F(LkpctlOperatorsTest, BootReportsEachFailureInJson) {
    build_three();
    run_steps(
        {{store_args({"install", "%D/bad.tar.gz"}), 0,
          "bad.tar.gz: installed\nboot order: bad.tar.gz\n", ""},
         {store_args({"--json", "boot"}), 1,
          json_line("boot", -257, MSG_INVALID,
                    R"({"store":")" + store() +
                        R"(","packages":[{"name":"bad.tar.gz","action":"failed",)"
                        R"("result":-257,"message":")" +
                        MSG_INVALID + R"(","explanation":")" + BAD_FINDING + R"("}]})",
                    R"(["1 of 1 installed packages failed"])"),
          "lkpctl: boot: 1 of 1 installed packages failed\n" + failure("boot", -257, MSG_INVALID)},
         {store_args({"uninstall", BAD_NAME}), 0, "bad.tar.gz: uninstalled\nboot order: (none)\n",
          ""},
         {store_args({"boot"}), 0, "nothing installed in " + store() + "\n", ""}});
}

TEST_F(LkpctlOperatorsTest, InstallPlacesPackagesWhereTheOperatorSays) {
    build_three();
    build_simple("d.tar.gz", {"vmlinux"}, "dfix_");
    const std::string not_installed = "lkpctl: install: 'x.tar.gz' is not installed\n" +
                                      failure("install", -266, MSG_FILE_MISSING);
    run_steps({
        {store_args({"install", "%D/a.tar.gz", "%D/c.tar.gz"}), 0,
         "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n", ""},
        {store_args({"install", "--before", "c.tar.gz", "%D/d.tar.gz"}), 0,
         "d.tar.gz: installed\nboot order: a.tar.gz, d.tar.gz, c.tar.gz\n", ""},
        {store_args({"install", "--after", "c.tar.gz", "%D/a.tar.gz"}), 0,
         "a.tar.gz: installed\nboot order: d.tar.gz, c.tar.gz, a.tar.gz\n", ""},
        // Reinstalled without --before/--after: its place is kept.
        {store_args({"install", "%D/d.tar.gz"}), 0,
         "d.tar.gz: installed\nboot order: d.tar.gz, c.tar.gz, a.tar.gz\n", ""},
        {store_args({"install", "--after", "x.tar.gz", "%D/bad.tar.gz"}), 1, "", not_installed},
        {store_args({"install", "--after", "a.tar.gz", "--before", "c.tar.gz", "%D/bad.tar.gz"}), 2,
         "",
         "lkpctl: install: --before and --after cannot both be given\n"
         "Try 'lkpctl install --help'.\n"},
        {store_args({"install", "--after", "a.tar.gz", "%D/a.tar.gz"}), 1, "",
         "lkpctl: install: cannot place a.tar.gz next to itself\n" +
             failure("install", -257, MSG_INVALID)},
        {store_args({"install", "%D/a.tar.gz", "%D/a.tar.gz"}), 1, "",
         "lkpctl: install: a.tar.gz is named twice\n" + failure("install", -257, MSG_INVALID)},
        {store_args({"install", "%D/absent.tar.gz"}), 1, "",
         "lkpctl: install: %D/absent.tar.gz: No such file or directory\n" +
             failure("install", -2, "No such file or directory")},
        {store_args({"uninstall", "c.tar.gz", "x.tar.gz"}), 1, "",
         "lkpctl: uninstall: 'x.tar.gz' is not installed in " + store() + "\n" +
             failure("uninstall", -266, MSG_FILE_MISSING)},
        {store_args({"--json", "uninstall", "c.tar.gz"}), 0,
         json_line("uninstall", 0, "Success",
                   R"({"store":")" + store() +
                       R"(","uninstalled":["c.tar.gz"],"order":["d.tar.gz","a.tar.gz"]})"),
         ""},
    });
    EXPECT_EQ(order_file(), "d.tar.gz\na.tar.gz\n");
    EXPECT_EQ(file_bytes(expand(store() + "/c.tar.gz")), "") << "its file is gone too";
    // What an interrupted change leaves (a temporary, a file no longer
    // named) goes at the next install.
    std::ofstream(expand(store() + "/.order.new")) << "half";
    std::ofstream(expand(store() + "/old.tar.gz")) << "stale";
    run_steps({{store_args({"install", "%D/d.tar.gz"}), 0,
                "d.tar.gz: installed\nboot order: d.tar.gz, a.tar.gz\n", ""}});
    EXPECT_EQ(store_entries(), (std::set<std::string>{"order", "a.tar.gz", "d.tar.gz"}));
    // An operator may edit the order file: boot follows it.
    std::ofstream(expand(store() + "/order")) << "# applied first to last\na.tar.gz\nd.tar.gz\n";
    run_steps({{store_args({"boot"}), 0, "a.tar.gz: applied\nd.tar.gz: applied\n", ""}});
    EXPECT_EQ(lkpsim::history("op"),
              (std::vector<std::string>{"op add,1,a.tar.gz,afix_1", "op add,1,d.tar.gz,dfix_1"}));
}

// Cuts the store's writes off at each step in turn, as a power cut would:
// after every cut the store is the old one or the new one, never a mix.
TEST_F(LkpctlOperatorsTest, StoreIsOldOrNewWhereverAWriteIsCutOff) {
    build_three();
    run_steps({{store_args({"install", "%D/a.tar.gz", "%D/c.tar.gz"}), 0,
                "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n", ""}});
    const std::string old_order = order_file();
    const std::string new_order = "a.tar.gz\nbad.tar.gz\nc.tar.gz\n";
    std::set<std::string> seen;
    int cut = 1;
    for (;; ++cut) {
        ASSERT_EQ(setenv("LKPCTL_FAULT_AT", std::to_string(cut).c_str(), 1), 0);
        const ToolRun run =
            lkpctl(store_args({"install", "--before", "c.tar.gz", "%D/bad.tar.gz"}));
        ASSERT_EQ(unsetenv("LKPCTL_FAULT_AT"), 0);
        const std::string order = order_file();
        SCOPED_TRACE("cut at step " + std::to_string(cut));
        EXPECT_TRUE(order == old_order || order == new_order) << order;
        seen.insert(order);
        for (const std::string name : {"a.tar.gz", "bad.tar.gz", "c.tar.gz"}) {
            if (order.find(name) != std::string::npos) {
                EXPECT_EQ(file_bytes(expand(store() + "/" + name)),
                          file_bytes(expand("%D/" + name)))
                    << name << " is named but not whole";
            }
        }
        if (run.status == 0) {
            break;
        }
        EXPECT_EQ(run.status, 101) << "ended by the injected cut";
        // Put the old store back for the next cut: the cut run may have left
        // a package file that the order file does not name yet.
        if (order == new_order) {
            ASSERT_EQ(lkpctl(store_args({"uninstall", BAD_NAME})).status, 0);
        }
    }
    EXPECT_EQ(cut, 11) << "five steps a file: the package, then the order file";
    EXPECT_EQ(seen, (std::set<std::string>{old_order, new_order}));
    EXPECT_EQ(order_file(), new_order);
    // The install that completed removed what the cut ones left behind.
    EXPECT_EQ(store_entries(),
              (std::set<std::string>{"order", "a.tar.gz", "bad.tar.gz", "c.tar.gz"}));

    // Uninstall cut off: the order file is old or new, and boot never meets
    // a named package without its file.
    for (cut = 1;; ++cut) {
        ASSERT_EQ(setenv("LKPCTL_FAULT_AT", std::to_string(cut).c_str(), 1), 0);
        const ToolRun run = lkpctl(store_args({"uninstall", BAD_NAME}));
        ASSERT_EQ(unsetenv("LKPCTL_FAULT_AT"), 0);
        const std::string order = order_file();
        SCOPED_TRACE("uninstall cut at step " + std::to_string(cut));
        EXPECT_TRUE(order == old_order || order == new_order) << order;
        if (order == new_order) {
            EXPECT_EQ(file_bytes(expand(store() + "/" + BAD_NAME)),
                      file_bytes(expand("%D/" + BAD_NAME)));
        }
        if (run.status == 0) {
            break;
        }
        EXPECT_EQ(run.status, 101);
        if (order == old_order) {
            ASSERT_EQ(
                lkpctl(store_args({"install", "--before", "c.tar.gz", "%D/bad.tar.gz"})).status, 0);
        }
    }
    EXPECT_EQ(cut, 6);
    EXPECT_EQ(order_file(), old_order);
}

TEST_F(LkpctlOperatorsTest, StatusShowsLoadedAndInstalledSideBySide) {
    build_three();
    // Upstream the load enabled a.tar.gz.
    const std::string a = lkpsim::upstream_by_default() ? "enabled" : "disabled";
    run_steps({
        {store_args({"install", "%D/a.tar.gz", "%D/c.tar.gz"}), 0,
         "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n", ""},
        {{"load", "%D/a.tar.gz"}, 0, "a.tar.gz: loaded\n", ""},
        {{"load", "%D/bad.tar.gz"},
         1,
         "",
         "lkpctl: load: bad.tar.gz: " + BAD_FINDING + "\n" + failure("load", -257, MSG_INVALID)},
        {store_args({"status"}), 3,
         "needs an operator: " + NOT_LOADED_C + "\nkernel release: " + running_release() +
             "\nlive patching: supported\npatch manager: loaded\nloaded packages:\n"
             "  a.tar.gz (" +
             a + ")\n    afix_1  " + a + "\ninstalled packages (" + store() +
             ", boot order):\n  a.tar.gz  loaded, " + a + "\n  c.tar.gz  not loaded\n" +
             "needs an operator:\n  " + NOT_LOADED_C + "\n",
         ""},
        {store_args({"--json", "status"}), 3,
         json_line("status", 0, "Success",
                   R"({"release":")" + running_release() +
                       R"(","livepatch":true,"manager":true,"loaded":[{"name":"a.tar.gz",)"
                       R"("state":")" +
                       a + R"(","patches":[{"name":"afix_1","state":")" + a +
                       R"("}],)"
                       R"("units":1,"partial":false}],)"
                       R"("in_transition":[],"store":")" +
                       store() + R"(","installed":[{"name":"a.tar.gz","loaded":true,"state":")" +
                       a +
                       R"("},)"
                       R"({"name":"c.tar.gz","loaded":false,"state":null}],)"
                       R"("findings":[{"kind":"not-loaded","package":"c.tar.gz","text":")" +
                       NOT_LOADED_C + R"("}]})"),
         ""},
    });
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    run_steps({
        {{"status", "--root", "%D/empty"},
         3,
         "needs an operator: " + manager_missing() + "\nkernel release: " + running_release() +
             "\nlive patching: supported\npatch manager: not loaded"
             "\nloaded packages:\n  (none)\ninstalled packages (%D/empty/var/lib/tesvar/" +
             running_release() + ", boot order):\n  (none)\nneeds an operator:\n  " +
             manager_missing() + "\n",
         ""},
    });
}

TEST_F(LkpctlOperatorsTest, InfoReadsTheManifestAndEachModule) {
    lkpsim::PackageSpec spec = lkpsim::simple_package("info.tar.gz", 2);
    spec.version = "2.3";
    spec.description = "two fixes";
    spec.date = "2026-12-01";
    spec.units[0].module.vermagic = "6.1.0 SMP mod_unload";
    spec.units[1].module.livepatch = false;
    build(spec);
    const std::string size0 =
        std::to_string(lkpsim::make_module_image(spec.units[0].module).size());
    const std::string size1 =
        std::to_string(lkpsim::make_module_image(spec.units[1].module).size());
    run_steps({
        {{"info", "%D/info.tar.gz"},
         0,
         "info.tar.gz\n  version: 2.3\n  description: two fixes\n  date: 2026-12-01\n  units: 2\n"
         "  unit fix_1.tar.gz: module fix_1.ko, " +
             size0 +
             " bytes\n    name: fix_1\n    vermagic: 6.1.0 SMP mod_unload\n    livepatch: Y\n"
             "  unit fix_2.tar.gz: module fix_2.ko, " +
             size1 + " bytes\n    name: fix_2\n    vermagic: \n    livepatch: (not set)\n",
         ""},
        {{"--json", "info", "%D/info.tar.gz"},
         0,
         json_line("info", 0, "Success",
                   R"({"file":"%D/info.tar.gz","package":"info.tar.gz","version":"2.3",)"
                   R"("description":"two fixes","date":"2026-12-01","units":[)"
                   R"({"unit":"fix_1.tar.gz","file":"fix_1.ko","name":"fix_1",)"
                   R"("vermagic":"6.1.0 SMP mod_unload","livepatch":true,"size":)" +
                       size0 +
                       R"(},{"unit":"fix_2.tar.gz","file":"fix_2.ko","name":"fix_2",)"
                       R"("vermagic":"","livepatch":false,"size":)" +
                       size1 + "}]}"),
         ""},
    });
    EXPECT_TRUE(lkpsim::history().empty()) << "info never touches the kernel";
}

TEST_F(LkpctlOperatorsTest, FailuresExplainThemselves) {
    lkpsim::PackageSpec junk = lkpsim::simple_package("junk.tar.gz", 1);
    junk.raw_package = "not a package at all\n";
    build(junk);
    lkpsim::PackageSpec empty = lkpsim::simple_package("empty.tar.gz", 1);
    empty.raw_package = "";
    build(empty);
    const std::string no_tar =
        ": package: /bin/tar cannot extract it (not a gzip tar archive, truncated, a member "
        "outside the archive, or a file over 64 MiB)";
    run_steps({
        // No raw tar or gzip output: only the finding and the result line.
        {{"load", "%D/junk.tar.gz"},
         1,
         "",
         "lkpctl: load: junk.tar.gz" + no_tar + "\n" + failure("load", -257, MSG_INVALID)},
        {{"preload", "%D/empty.tar.gz"},
         1,
         "",
         "lkpctl: preload: empty.tar.gz" + no_tar + "\n" + failure("preload", -257, MSG_INVALID)},
        {{"--json", "validate", "%D/junk.tar.gz"},
         1,
         json_line("validate", -257, MSG_INVALID,
                   R"({"file":"%D/junk.tar.gz","package":"junk.tar.gz"})",
                   R"(["junk.tar.gz)" + no_tar + R"("])"),
         "lkpctl: validate: junk.tar.gz" + no_tar + "\n" + failure("validate", -257, MSG_INVALID)},
        {{"info", "%D/junk.tar.gz"},
         1,
         "",
         "lkpctl: info: junk.tar.gz" + no_tar + "\n" + failure("info", -257, MSG_INVALID)},
        {{"remove", "nope.tar.gz"},
         1,
         "",
         "lkpctl: remove: no package named 'nope.tar.gz' is loaded (see lkpctl list)\n" +
             failure("remove", -272, MSG_NOT_LOADED)},
        {{"strerror", "267"}, 0, std::string(MSG_ALREADY_LOADED) + "\n", ""},
        {{"--version"}, 0, "lkpctl " TESVAR_VERSION "\n", ""},
        {{"--json", "--version"},
         0,
         json_line("", 0, "Success", R"({"version":")" TESVAR_VERSION R"("})"),
         ""},
    });
    EXPECT_TRUE(lkpsim::history("op").empty());
}

// Every subcommand that needs the control file names the missing patch
// manager, the result line kept.
TEST_F(LkpctlOperatorsTest, MissingPatchManagerIsSaidByEverySubcommand) {
    build_simple("p.tar.gz", {"ext4"});
    lkpsim::set_manager(lkpsim::Manager::AbsentMissing);
    const std::string missing = manager_missing();
    const auto said = [&](const std::string &command) {
        return "lkpctl: " + command + ": " + missing + "\n";
    };
    const std::string livepatch = "Kernel:don't support livepatch.";
    run_steps({
        {{"list"}, 1, "", said("list") + failure("list", -262, "Failed to open file.")},
        {{"state", "p.tar.gz"},
         1,
         "invalid 9\n",
         said("state") + failure("state", 9, "No valid state.")},
        {{"remove", "p.tar.gz"}, 1, "", said("remove") + failure("remove", -257, MSG_INVALID)},
        {{"activate", "p.tar.gz"},
         1,
         "",
         said("activate") + failure("activate", -257, MSG_INVALID)},
        {{"deactivate", "p.tar.gz"},
         1,
         "",
         said("deactivate") + failure("deactivate", -257, MSG_INVALID)},
        {{"owner", "ext4"},
         1,
         "",
         said("owner") + failure("owner", -2, "No such file or directory")},
        {{"load", "%D/p.tar.gz"}, 1, "", said("load") + failure("load", -323, livepatch)},
        {{"preload", "%D/p.tar.gz"}, 1, "", said("preload") + failure("preload", -323, livepatch)},
        {{"validate", "%D/p.tar.gz"},
         1,
         "",
         said("validate") + failure("validate", -323, livepatch)},
        {{"--json", "list"},
         1,
         json_line("list", -262, "Failed to open file.", "{}", "[\"" + missing + "\"]"),
         said("list") + failure("list", -262, "Failed to open file.")},
        {{"install", "--root", "%D/root", "%D/p.tar.gz"},
         0,
         "p.tar.gz: installed\nboot order: p.tar.gz\n",
         ""},
        {{"boot", "--root", "%D/root"},
         1,
         "p.tar.gz: failed: -323: " + livepatch + ": " + missing + "\n",
         said("boot") + failure("boot", -323, livepatch)},
    });
}

// On a kernel with upstream rules (patches enable themselves, one transition
// at a time, each taking a while) boot loads every package back to back.
TEST_F(LkpctlOperatorsTest, BootLoadsEveryPackageOnAnUpstreamKernel) {
    lkpsim::set_enable_on_insert(true);
    lkpsim::set_transition_time(300);
    build_simple("a.tar.gz", {"ext4", "nfs"}, "afix_");
    build_simple("c.tar.gz", {"nfs", "ext4"}, "cfix_");
    run_steps({{store_args({"install", "%D/a.tar.gz", "%D/c.tar.gz"}), 0,
                "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n", ""},
               {store_args({"boot"}), 0, "a.tar.gz: applied\nc.tar.gz: applied\n", ""},
               {{"state", "a.tar.gz"}, 0, "enabled 5\n", ""},
               {{"state", "c.tar.gz"}, 0, "enabled 5\n", ""}});
}

// Upstream frees a disabled patch: activate brings the package back from the
// store, or says what to run when the store does not have it.
TEST_F(LkpctlOperatorsTest, ActivateLoadsAFreedPackageAgainFromTheStore) {
    lkpsim::set_enable_on_insert(true);
    build_simple("a.tar.gz", {"ext4"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    const std::string freed = "the kernel freed the disabled patches of ";
    run_steps({{store_args({"install", "%D/a.tar.gz"}), 0,
                "a.tar.gz: installed\nboot order: a.tar.gz\n", ""},
               {store_args({"boot"}), 0, "a.tar.gz: applied\n", ""},
               {{"load", "%D/c.tar.gz"}, 0, "c.tar.gz: loaded\n", ""},
               {{"deactivate", "a.tar.gz"}, 0, "a.tar.gz: deactivated\n", ""},
               {{"deactivate", "c.tar.gz"}, 0, "c.tar.gz: deactivated\n", ""},
               {store_args({"activate", "a.tar.gz"}), 0,
                "a.tar.gz: activated: " + freed + "a.tar.gz; removed and loaded again from " +
                    store() + "/a.tar.gz\n",
                ""},
               {{"state", "a.tar.gz"}, 0, "enabled 5\n", ""},
               {store_args({"activate", "c.tar.gz"}), 1, "",
                "lkpctl: activate: " + freed +
                    "c.tar.gz; bring it back with: lkpctl remove c.tar.gz && lkpctl load <package "
                    "file>\n" +
                    failure("activate", -262, "Failed to open file.")},
               {{"state", "c.tar.gz"}, 3, "disabled 2\n", ""}});
}

}  // namespace
}  // namespace lkptest
