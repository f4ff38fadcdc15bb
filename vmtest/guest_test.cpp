// The lifecycle of packages on a real kernel, through the real libtesvar.so
// and through lkpctl --json. Runs as the guest's only program; the host reads
// the verdict from the serial console. Cases run in order and each leaves
// the kernel as it found it: no patch module, no control-file record.
#include <sys/utsname.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <string>
#include <thread>
#include <vector>

#include "guest_checks.h"
#include "guest_kernel.h"
#include "guest_operators.h"
#include "guest_transitions.h"
#include "tesvar.h"

namespace {

using guest::read_text;
using Lines = std::vector<std::string>;

const std::string PKG_DIR = "/opt/lkp/pkg/";
const std::string CONTROL = "/proc/navo_lkp_list";
const std::string ORIGINAL_TARGET = "lkp_target original\n";

std::string pkg(const char *name) {
    return PKG_DIR + name;
}

bool has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

bool log_has(const Lines &log, const std::string &line) {
    for (const std::string &l : log) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

// Nothing of a case is left: no module, no record, no temporary directory.
void check_clean(const std::vector<std::string> &modules) {
    for (const std::string &m : modules) {
        CHECK_EQ(guest::module_loaded(m), false);
    }
    CHECK_EQ(guest::read_required(CONTROL), std::string());
    CHECK(guest::lkp_tmp_entries().empty());
}

void manager_inserted_on_first_load() {
    utsname uts{};
    uname(&uts);
    CHECK(guest::exists(std::string("/lib/modules/") + uts.release + "/mts/tesvar.ko"));
    CHECK_EQ(guest::exists(CONTROL), false);
    CHECK_EQ(guest::module_loaded("tesvar"), false);
    CHECK_EQ(navo_lkp_load(pkg("cmdline.tar.gz").c_str()), 0);
    CHECK(guest::wait_transitions());
    CHECK_EQ(guest::module_loaded("tesvar"), true);
    CHECK_EQ(guest::read_required(CONTROL), std::string("1,cmdline.tar.gz,lkp_cmdline\n"));
    CHECK_EQ(read_text("/proc/cmdline"), std::string("lkp_cmdline patched\n"));
    CHECK(log_has(guest::take_log(), "[LKP-INFO]:LKP-LOAD:Success to load."));
}

// Upstream enables a live patch as soon as its module is in.
void loaded_patch_is_enabled_at_once() {
    CHECK_EQ(navo_lkp_load(pkg("cmdline.tar.gz").c_str()), -267);
    CHECK_EQ(navo_lkp_state("cmdline.tar.gz"), 5);
    CHECK_EQ(navo_lkp_activate("cmdline.tar.gz"), 0);
    CHECK_EQ(guest::take_log(), (Lines{"[LKP-INFO]:The pkg has already been activated before.",
                                       "[LKP-INFO]:LKP-ACTIVATE:Success to activate."}));
}

// The kernel refuses to remove the module of an enabled patch.
void enabled_patch_not_removable() {
    CHECK_EQ(navo_lkp_remove("cmdline.tar.gz"), -11);
    CHECK_EQ(guest::module_loaded("lkp_cmdline"), true);
    CHECK_EQ(guest::read_required(CONTROL), std::string("1,cmdline.tar.gz,lkp_cmdline\n"));
    CHECK_EQ(guest::take_log(), Lines{"[LKP-ERR]:LKP-REMOVE:Failed to remove."});
}

// Disabling is final upstream: the patch is freed, its directory goes.
void deactivation_is_final() {
    CHECK_EQ(navo_lkp_deactivate("cmdline.tar.gz"), 0);
    CHECK(guest::wait_patch_gone("lkp_cmdline"));
    CHECK_EQ(navo_lkp_state("cmdline.tar.gz"), 2);
    CHECK(read_text("/proc/cmdline") != "lkp_cmdline patched\n");
    CHECK_EQ(navo_lkp_activate("cmdline.tar.gz"), -262);
    CHECK_EQ(navo_lkp_state("cmdline.tar.gz"), 2);
    guest::take_log();
}

void disabled_patch_removed() {
    CHECK_EQ(navo_lkp_remove("cmdline.tar.gz"), 0);
    CHECK_EQ(navo_lkp_state("cmdline.tar.gz"), 0);
    CHECK_EQ(guest::take_log(),
             Lines{"[LKP-INFO]:LKP-REMOVE:Success to remove the cmdline.tar.gz"});
    check_clean({"lkp_cmdline"});
}

void owner_of_target_module() {
    CHECK_EQ(read_text("/proc/lkp_target"), ORIGINAL_TARGET);
    CHECK_EQ(navo_lkp_load(pkg("target.tar.gz").c_str()), 0);
    CHECK(guest::wait_transitions());
    CHECK_EQ(read_text("/proc/lkp_target"), std::string("lkp_target fixed\n"));
    char owner[64] = "";
    CHECK_EQ(navo_lkp_last_patch_for_module("lkp_target", owner, sizeof owner), 0);
    CHECK_EQ(std::string(owner), std::string("target.tar.gz"));
    CHECK_EQ(navo_lkp_last_patch_for_module("lkp_plain", owner, sizeof owner), -19);
    CHECK_EQ(navo_lkp_deactivate("target.tar.gz"), 0);
    CHECK(guest::wait_patch_gone("lkp_target_fix"));
    CHECK_EQ(read_text("/proc/lkp_target"), ORIGINAL_TARGET);
    CHECK_EQ(navo_lkp_remove("target.tar.gz"), 0);
    guest::take_log();
    check_clean({"lkp_target_fix"});
}

// The second unit's init fails with ENOPKG; the first is taken out again.
void missing_target_rolls_back() {
    CHECK_EQ(navo_lkp_load(pkg("nopkg.tar.gz").c_str()), -265);
    const Lines log = guest::take_log();
    CHECK(log_has(log, "[LKP-ERR]:LKP-LOAD:Failed to load."));
    check_clean({"lkp_plain", "lkp_nopkg"});
}

// The second unit is a module already in the kernel (EEXIST); the first, a
// live patch enabled by its insertion, must leave again.
void duplicate_module_rolls_back() {
    CHECK_EQ(navo_lkp_load(pkg("dup.tar.gz").c_str()), -257);
    CHECK(guest::wait_transitions());
    const Lines log = guest::take_log();
    CHECK(log_has(log, "[LKP-ERR]:LKP-LOAD:Failed to load."));
    CHECK(!log_has(log, "[LKP-ERR]:Failed lkp rmmod, ret -11."));
    CHECK_EQ(guest::module_loaded("lkp_target"), true);
    CHECK(read_text("/proc/version") != "lkp_version patched\n");
    check_clean({"lkp_version"});
    guest::force_clean("dup.tar.gz", "lkp_version");
}

// The kernel names lkp-dash-fix.ko "lkp_dash_fix"; so must the library.
void dashed_patch_by_kernel_name() {
    CHECK_EQ(navo_lkp_load(pkg("dash.tar.gz").c_str()), 0);
    CHECK(guest::wait_transitions());
    CHECK_EQ(guest::read_required(CONTROL), std::string("1,dash.tar.gz,lkp_dash_fix\n"));
    CHECK_EQ(read_text("/proc/loadavg"), std::string("lkp_dash_fix patched\n"));
    CHECK_EQ(navo_lkp_state("dash.tar.gz"), 5);
    const int deactivated = navo_lkp_deactivate("dash.tar.gz");
    CHECK_EQ(deactivated, 0);
    CHECK(deactivated != 0 || guest::wait_patch_gone("lkp_dash_fix"));
    CHECK_EQ(navo_lkp_remove("dash.tar.gz"), 0);
    guest::take_log();
    check_clean({"lkp_dash_fix"});
    guest::force_clean("dash.tar.gz", "lkp_dash_fix");
}

// lkp_renamed.ko holds the module lkp_plain: refused before insertion.
void module_named_otherwise_refused() {
    CHECK_EQ(navo_lkp_load(pkg("renamed.tar.gz").c_str()), -257);
    const Lines log = guest::take_log();
    CHECK(log_has(log, "[LKP-ERR]:load_patch: The module lkp_renamed.ko is named lkp_plain."));
    check_clean({"lkp_plain"});
    guest::force_clean("renamed.tar.gz", "lkp_plain");
}

// The same story through the management tool's JSON output.
void lkpctl_story() {
    const std::string story = pkg("story.tar.gz");
    guest::ToolRun run = guest::run_lkpctl({"load", "--json", story});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"command\":\"load\",\"result\":0"));
    CHECK(guest::wait_transitions());
    run = guest::run_lkpctl({"load", "--json", story});
    CHECK(run.status != 0);
    CHECK(has(run.out, "\"result\":-267"));
    run = guest::run_lkpctl({"state", "--json", "story.tar.gz"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"result\":0"));
    CHECK(has(run.out, "enabled"));
    run = guest::run_lkpctl({"list", "--json"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"name\":\"story.tar.gz\",\"state\":\"enabled\""));
    run = guest::run_lkpctl({"owner", "--json", "lkp_target"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "story.tar.gz"));
    // The kernel refuses to remove an enabled patch's module (-11): remove
    // deactivates the package first, waits for that transition, then removes.
    run = guest::run_lkpctl({"remove", "--json", "story.tar.gz"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"result\":0"));
    CHECK(guest::wait_patch_gone("lkp_target_fix"));
    guest::take_log();
    check_clean({"lkp_target_fix"});
}

// A trial load must leave the kernel as it was: the patch its insertion
// enabled is switched off and settles before the removal.
void preload_leaves_nothing() {
    CHECK_EQ(navo_lkp_preload(pkg("cmdline.tar.gz").c_str()), 0);
    CHECK(guest::wait_transitions());
    CHECK(read_text("/proc/cmdline") != "lkp_cmdline patched\n");
    CHECK_EQ(guest::take_log(),
             (Lines{"[LKP-INFO]:LKP-LOAD:Success to load.",
                    "[LKP-INFO]:LKP-DEACTIVATE:Success to deactivate.",
                    "[LKP-INFO]:LKP-REMOVE:Success to remove the cmdline.tar.gz"}));
    check_clean({"lkp_cmdline"});
    guest::force_clean("cmdline.tar.gz", "lkp_cmdline");
}

// Installed packages come back with lkpctl boot: the store under a root of
// its own (the guest's /tmp), two packages, then boot loads and enables
// both. Upstream the kernel runs one transition at a time, so boot waits for
// each package's before the next one.
void boot_reapplies_installed_packages() {
    const std::string root = "/tmp/boot_root";
    guest::ToolRun run = guest::run_lkpctl(
        {"install", "--json", "--root", root, pkg("cmdline.tar.gz"), pkg("target.tar.gz")});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"order\":[\"cmdline.tar.gz\",\"target.tar.gz\"]"));
    CHECK_EQ(guest::read_required(CONTROL), std::string());  // install leaves the kernel alone

    run = guest::run_lkpctl({"--json", "boot", "--root", root, "--wait=30"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "{\"name\":\"cmdline.tar.gz\",\"action\":\"applied\",\"result\":0,"));
    CHECK(has(run.out, "{\"name\":\"target.tar.gz\",\"action\":\"applied\",\"result\":0,"));
    CHECK_EQ(navo_lkp_state("cmdline.tar.gz"), 5);
    CHECK_EQ(navo_lkp_state("target.tar.gz"), 5);
    CHECK_EQ(guest::read_required(CONTROL),
             std::string("1,cmdline.tar.gz,lkp_cmdline\n1,target.tar.gz,lkp_target_fix\n"));
    CHECK_EQ(read_text("/proc/cmdline"), std::string("lkp_cmdline patched\n"));
    CHECK_EQ(read_text("/proc/lkp_target"), std::string("lkp_target fixed\n"));
    run = guest::run_lkpctl({"--json", "status", "--root", root});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"in_transition\":[]"));
    CHECK(has(run.out,
              "\"installed\":[{\"name\":\"cmdline.tar.gz\",\"loaded\":true,"
              "\"state\":\"enabled\"},{\"name\":\"target.tar.gz\",\"loaded\":true,"
              "\"state\":\"enabled\"}]"));

    // A second boot finds both active and changes nothing.
    run = guest::run_lkpctl({"--json", "boot", "--root", root});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "{\"name\":\"cmdline.tar.gz\",\"action\":\"already active\""));
    CHECK(has(run.out, "{\"name\":\"target.tar.gz\",\"action\":\"already active\""));
    CHECK_EQ(guest::read_required(CONTROL),
             std::string("1,cmdline.tar.gz,lkp_cmdline\n1,target.tar.gz,lkp_target_fix\n"));

    // Clean up: disabled patches are freed upstream before their removal.
    for (const char *name : {"target.tar.gz", "cmdline.tar.gz"}) {
        CHECK_EQ(guest::run_lkpctl({"--json", "deactivate", "--wait=30", name}).status, 0);
    }
    CHECK(guest::wait_patch_gone("lkp_target_fix"));
    CHECK(guest::wait_patch_gone("lkp_cmdline"));
    CHECK_EQ(read_text("/proc/lkp_target"), ORIGINAL_TARGET);
    for (const char *name : {"target.tar.gz", "cmdline.tar.gz"}) {
        CHECK_EQ(guest::run_lkpctl({"--json", "remove", name}).status, 0);
    }
    run = guest::run_lkpctl(
        {"--json", "uninstall", "--root", root, "cmdline.tar.gz", "target.tar.gz"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"order\":[]"));
    guest::take_log();
    check_clean({"lkp_cmdline", "lkp_target_fix"});
    guest::force_clean("target.tar.gz", "lkp_target_fix");
    guest::force_clean("cmdline.tar.gz", "lkp_cmdline");
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

// The manager judges each op line on its own write() and refuses with EINVAL.
void control_file_refuses_bad_ops() {
    CHECK_EQ(guest::write_op(CONTROL, "add,2,pkgA,p1"), 0);
    CHECK_EQ(guest::write_op(CONTROL, "add,2,pkgA,p2"), 0);
    CHECK_EQ(guest::write_op(CONTROL, "add,1,pkgB,p1"), EINVAL);  // p1 already registered
    CHECK_EQ(guest::write_op(CONTROL, "rm,2,pkgB,p2"), EINVAL);   // p2 is pkgA's
    CHECK_EQ(guest::write_op(CONTROL, "rm,2,pkgA,p3"), EINVAL);
    for (const char *bad : {"", "add", "add,1,pkgC", "add,x,pkgC,q", "add,1,,q", "add,1,pkgC,",
                            "add,1,pkg C,q", "add,1,pkgC,q\n", "mv,1,pkgC,q", "add,1,pkgC,a,b"}) {
        CHECK_EQ(guest::write_op(CONTROL, bad), EINVAL);
    }
    CHECK_EQ(guest::write_op(CONTROL, "add,1,pkgC,a\tb"), EINVAL);
    CHECK_EQ(guest::write_op(CONTROL, "add,1,pkgC,a\x7f"), EINVAL);
    CHECK_EQ(guest::write_op(CONTROL, "add,1,pkgC," + std::string(64, 'q')), EINVAL);
    CHECK_EQ(guest::write_op(CONTROL, "add,1,pk\xc3\xa9,q"), 0);
    CHECK_EQ(guest::write_op(CONTROL, "rm,1,pk\xc3\xa9,q"), 0);
    CHECK_EQ(guest::write_op(CONTROL, "add,1,pkgC," + std::string(63, 'q')), 0);
    CHECK_EQ(guest::read_required(CONTROL),
             "2,pkgA,p1\n2,pkgA,p2\n1,pkgC," + std::string(63, 'q') + "\n");
    CHECK_EQ(guest::write_op(CONTROL, "rm,2,pkgA,p1"), 0);
    CHECK_EQ(guest::write_op(CONTROL, "rm,2,pkgA,p2"), 0);
    CHECK_EQ(guest::write_op(CONTROL, "rm,1,pkgC," + std::string(63, 'q')), 0);
    CHECK_EQ(guest::read_required(CONTROL), std::string());
}

// Writers adding and removing while a reader reads: every line the reader
// sees is whole, and every writer's op is accepted.
void control_file_under_concurrency() {
    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    auto writer = [&](const std::string &patch) {
        for (int i = 0; i < 200; ++i) {
            refused += guest::write_op(CONTROL, "add,1,pkgW," + patch) != 0;
            refused += guest::write_op(CONTROL, "rm,1,pkgW," + patch) != 0;
        }
    };
    int torn = 0;
    int reads = 0;
    std::thread reader([&] {
        while (!stop) {
            std::string text;
            // An unreadable control file counts as a torn reading.
            torn += !guest::read_file(CONTROL, &text);
            std::istringstream lines(text);
            std::string line;
            while (std::getline(lines, line)) {
                torn += line != "1,pkgW,writer_one" && line != "1,pkgW,writer_two";
            }
            ++reads;
        }
    });
    std::thread one(writer, "writer_one");
    std::thread two(writer, "writer_two");
    one.join();
    two.join();
    stop = true;
    reader.join();
    CHECK_EQ(refused.load(), 0);
    CHECK_EQ(torn, 0);
    CHECK(reads > 0);
    CHECK_EQ(guest::read_required(CONTROL), std::string());
}

// The state file: two head lines, a line per loaded live patch, a trailer.
void state_file_shape() {
    CHECK_EQ(navo_lkp_load(pkg("cmdline.tar.gz").c_str()), 0);
    CHECK(guest::wait_transitions());
    CHECK_EQ(
        read_text("/proc/livepatch/state"),
        std::string("Live patch state\nnum\tpatch\tstate\n1\tlkp_cmdline\tenabled\ntotal 1\n"));
    CHECK_EQ(navo_lkp_deactivate("cmdline.tar.gz"), 0);
    CHECK(guest::wait_patch_gone("lkp_cmdline"));
    CHECK_EQ(
        read_text("/proc/livepatch/state"),
        std::string("Live patch state\nnum\tpatch\tstate\n1\tlkp_cmdline\tdisabled\ntotal 1\n"));
    CHECK_EQ(navo_lkp_remove("cmdline.tar.gz"), 0);
    CHECK_EQ(read_text("/proc/livepatch/state"),
             std::string("Live patch state\nnum\tpatch\tstate\ntotal 0\n"));
    guest::take_log();
    check_clean({"lkp_cmdline"});
}

// No warning, oops or live patching error in the kernel's log.
void kernel_log_clean() {
    const std::string log = guest::kernel_log();
    CHECK(!log.empty());
    for (const char *bad : {"WARNING:", "BUG:", "Oops", "Call Trace", "livepatch: failed"}) {
        CHECK(!has(log, bad));
    }
}

// The repeat count in argv[index], `fallback` when absent, 0 when it is not
// a whole number (the suite's "repeat count given" case fails then).
int count_argument(int argc, char *argv[], int index, int fallback) {
    if (argc <= index) {
        return fallback;
    }
    char *end = nullptr;
    const long count = std::strtol(argv[index], &end, 10);
    return *argv[index] != '\0' && *end == '\0' && count > 0 && count <= 1000
               ? static_cast<int>(count)
               : 0;
}

}  // namespace

// The suite the guest's init names: "transitions [REPEATS]", "operators
// REPEATS [LONG_REPEATS]" (the long scenarios' count, REPEATS by default),
// or the main one. It inserts and removes real kernel modules, so it runs
// only in the tier's guest, whose kernel command line names the suite.
int main(int argc, char *argv[]) {
    if (!has(read_text("/proc/cmdline"), "lkpvm.suite=")) {
        (void)std::fprintf(stderr,
                           "lkp_guest_test: not in the real kernel tier's guest; refusing\n");
        return 2;
    }
    const std::string suite = argc > 1 ? argv[1] : "main";
    if (suite == "transitions") {
        const int repeats = count_argument(argc, argv, 2, 1);
        guest::run_case("repeat count given", [&] { CHECK(repeats > 0); });
        guest::run_transition_cases(repeats);
        return guest::verdict();
    }
    if (suite == "operators") {
        const int repeats = count_argument(argc, argv, 2, 0);
        const int long_repeats = count_argument(argc, argv, 3, repeats);
        guest::run_case("repeat counts given", [&] {
            CHECK(repeats > 0);
            CHECK(long_repeats > 0);
        });
        guest::run_operator_cases(repeats, long_repeats);
        return guest::verdict();
    }
    guest::run_case("system log bound", [] { CHECK(guest::open_log()); });
    guest::run_case("manager inserted on first load", manager_inserted_on_first_load);
    guest::run_case("loaded patch is enabled at once", loaded_patch_is_enabled_at_once);
    guest::run_case("enabled patch not removable", enabled_patch_not_removable);
    guest::run_case("deactivation is final", deactivation_is_final);
    guest::run_case("disabled patch removed", disabled_patch_removed);
    guest::run_case("owner of target module", owner_of_target_module);
    guest::run_case("missing target rolls back", missing_target_rolls_back);
    guest::run_case("duplicate module rolls back", duplicate_module_rolls_back);
    guest::run_case("preload leaves nothing", preload_leaves_nothing);
    guest::run_case("dashed patch by kernel name", dashed_patch_by_kernel_name);
    guest::run_case("module named otherwise refused", module_named_otherwise_refused);
    guest::run_case("lkpctl story", lkpctl_story);
    guest::run_case("lkpctl boot re-applies installed packages", boot_reapplies_installed_packages);
    guest::run_case("control file refuses bad ops", control_file_refuses_bad_ops);
    guest::run_case("control file under concurrency", control_file_under_concurrency);
    guest::run_case("state file shape", state_file_shape);
    guest::run_case("no /tmp/lkp_* left", [] { CHECK(guest::lkp_tmp_entries().empty()); });
    guest::run_case("kernel log clean", kernel_log_clean);
    return guest::verdict();
}
