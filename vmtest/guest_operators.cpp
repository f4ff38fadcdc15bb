// The scenarios of the operators' suite. A scenario never waits for the
// kernel between two commands; where it checks an effect (what
// /proc/lkp_slots shows) it does so after its commands, or after a command
// that waits itself (lkpctl --wait, the update module).
#include "guest_operators.h"

#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "guest_checks.h"
#include "guest_kernel.h"
#include "guest_killed.h"
#include "guest_processes.h"
#include "guest_slots.h"
#include "guest_update_module.h"
#include "tesvar.h"

namespace guest {
namespace {

using Lines = std::vector<std::string>;

const std::string CONTROL = "/proc/navo_lkp_list";
constexpr int32_t ENABLED = 5;
constexpr int32_t DISABLED = 2;

bool has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// The package's file in the operators' store (lkpctl install's).
std::string store_path(const SlotPackage &package) {
    utsname uts{};
    uname(&uts);
    return std::string("/var/lib/tesvar/") + uts.release + "/" + package.name;
}

const char *name_of(const SlotPackage &package) {
    return package.name.c_str();
}

std::string path_of(const SlotPackage &package) {
    return package_path(package);
}

// The library's error lines among the log lines.
Lines errors_in(const Lines &log) {
    Lines errors;
    for (const std::string &line : log) {
        if (line.compare(0, 9, "[LKP-ERR]") == 0) {
            errors.push_back(line);
        }
    }
    return errors;
}

bool log_has(const Lines &log, const std::string &line) {
    for (const std::string &l : log) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

// The line that says the kernel freed a disabled patch of triple_a (which
// one depends on how far the kernel got freeing them).
bool freed_line_in(const Lines &log) {
    for (const std::string &patch : TRIPLE_A.patches) {
        if (log_has(log, "[LKP-ERR]:The kernel freed the disabled patch " + patch +
                             ": remove the package and load it again.")) {
            return true;
        }
    }
    return false;
}

std::string shown(const std::vector<std::string> &args, const ToolRun &run) {
    std::string command = "lkpctl";
    for (const std::string &arg : args) {
        command += " " + arg;
    }
    return command + ": exit " + std::to_string(run.status) + ", stdout " + show(run.out) +
           ", stderr " + show(run.err);
}

// lkpctl's answers by exit status: `state` of a disabled package, and
// `status` when something needs an operator (here: loaded packages that are
// not installed, so lost at reboot).
constexpr int STATE_EXIT_DISABLED = 3;
constexpr int STATUS_EXIT_NEEDS_OPERATOR = 3;

// Runs lkpctl; a failure names the command and shows its output when the
// exit status is not the expected one.
ToolRun lkpctl(const std::vector<std::string> &args, int expected_status = 0) {
    ToolRun run = run_lkpctl(args);
    if (run.status != expected_status) {
        record_failure(
            __FILE__, __LINE__,
            "expected exit " + std::to_string(expected_status) + " from " + shown(args, run));
    }
    return run;
}

// What a child reports: its result, and lkpctl's output when it failed.
std::string lkpctl_result(const std::vector<std::string> &args) {
    const ToolRun run = run_lkpctl(args);
    return run.status == 0 ? "0" : shown(args, run);
}

std::string library_result(int32_t result) {
    return std::to_string(result);
}

// Reads both packages' states until the workers are done. A state that is
// none of unknown (0), disabled (2) and enabled (5) means the control file
// and the state file disagreed.
std::string state_reader(const std::function<bool()> &stopped) {
    int readings = 0;
    int invalid = 0;
    std::string last;
    do {
        for (const SlotPackage *package : {&TRIPLE_A, &TRIPLE_B}) {
            const int32_t state = navo_lkp_state(name_of(*package));
            ++readings;
            if (state != 0 && state != DISABLED && state != ENABLED) {
                ++invalid;
                last = package->name + " " + std::to_string(state);
            }
        }
    } while (!stopped());
    return "invalid " + std::to_string(invalid) + " of " + std::to_string(readings) +
           (last.empty() ? "" : ", last " + last);
}

// Runs the two bodies at once, with the state reader beside them when the
// patch manager is there (without it, there is no state to read).
Lines at_once(const Together::Body &one, const Together::Body &two, bool reader) {
    Together together;
    together.add(one);
    together.add(two);
    if (reader) {
        together.add_watcher(state_reader);
    }
    Lines results = together.run();
    CHECK_EQ(static_cast<int>(results.size()), reader ? 3 : 2);
    results.resize(3);
    // The reader has read at least once, and never an invalid state.
    if (reader && (!has(results[2], "invalid 0 of ") || has(results[2], " of 0"))) {
        record_failure(__FILE__, __LINE__, "state reader: " + results[2]);
    }
    return results;
}

// Two processes at once, the patch manager not inserted yet: one loads
// triple_a through the library, the other triple_b through lkpctl (so both
// locks are taken); then both deactivate at once (the tools swapped), then
// both remove at once, while a third process reads both states. Every
// round races the manager's insertion anew.
void two_callers_at_once() {
    // The round before left the patch manager in, with no record.
    if (module_loaded("tesvar")) {
        CHECK_EQ(read_required(CONTROL), std::string());
        CHECK_EQ(remove_module("tesvar"), 0);
    }
    CHECK_EQ(module_loaded("tesvar"), false);
    const auto load_a = [] { return library_result(navo_lkp_load(path_of(TRIPLE_A).c_str())); };
    const auto load_b = [] { return lkpctl_result({"load", path_of(TRIPLE_B)}); };
    Lines results = at_once(load_a, load_b, false);
    CHECK_EQ(results[0], std::string("0"));
    CHECK_EQ(results[1], std::string("0"));
    CHECK_EQ(module_loaded("tesvar"), true);
    const std::string control = read_required(CONTROL);
    CHECK_EQ(records_in(control, TRIPLE_A), records_of(TRIPLE_A));
    CHECK_EQ(records_in(control, TRIPLE_B), records_of(TRIPLE_B));
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_A)), ENABLED);
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_B)), ENABLED);

    const auto deactivate_a = [] { return lkpctl_result({"deactivate", TRIPLE_A.name}); };
    const auto deactivate_b = [] { return library_result(navo_lkp_deactivate(name_of(TRIPLE_B))); };
    results = at_once(deactivate_a, deactivate_b, true);
    CHECK_EQ(results[0], std::string("0"));
    CHECK_EQ(results[1], std::string("0"));
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_A)), DISABLED);
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_B)), DISABLED);

    const auto remove_a = [] { return library_result(navo_lkp_remove(name_of(TRIPLE_A))); };
    const auto remove_b = [] { return lkpctl_result({"remove", TRIPLE_B.name}); };
    results = at_once(remove_a, remove_b, true);
    CHECK_EQ(results[0], std::string("0"));
    CHECK_EQ(results[1], std::string("0"));
    CHECK_EQ(errors_in(take_log()), Lines{});
    check_no_package_left();
}

// One package of three patches through the library, each call right after
// the one before; then the finality of deactivation upstream.
void three_patches_back_to_back() {
    const long start = now_ms();
    const int32_t loaded = navo_lkp_load(path_of(TRIPLE_A).c_str());
    measure("navo_lkp_load of a package of three patches", now_ms() - start);
    CHECK_EQ(loaded, 0);
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_A)), ENABLED);
    CHECK_EQ(read_required(CONTROL), records_of(TRIPLE_A));
    CHECK_EQ(navo_lkp_deactivate(name_of(TRIPLE_A)), 0);
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_A)), DISABLED);
    Lines log = take_log();
    CHECK(log_has(log, "[LKP-INFO]:LKP-LOAD:Success to load."));
    CHECK(log_has(log, "[LKP-INFO]:LKP-DEACTIVATE:Success to deactivate."));
    CHECK_EQ(errors_in(log), Lines{});

    // The kernel freed the disabled patches: enabling fails before anything
    // is written, and the package is left as it was.
    CHECK_EQ(navo_lkp_activate(name_of(TRIPLE_A)), -262);
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_A)), DISABLED);
    log = take_log();
    CHECK(log_has(log, "[LKP-ERR]:LKP-ACTIVATE:Failed to activate."));
    CHECK(freed_line_in(log));
    // Not in the store: lkpctl cannot load it again itself, and says how.
    const ToolRun run = lkpctl({"activate", TRIPLE_A.name}, 1);
    CHECK(has(run.err, "-262"));
    CHECK(has(run.err, "lkpctl remove " + TRIPLE_A.name));
    CHECK(has(run.err, "lkpctl load"));
    CHECK_EQ(navo_lkp_state(name_of(TRIPLE_A)), DISABLED);

    CHECK_EQ(navo_lkp_remove(name_of(TRIPLE_A)), 0);
    log = take_log();
    CHECK(log_has(log, "[LKP-INFO]:LKP-REMOVE:Success to remove the " + TRIPLE_A.name));
    check_no_package_left();
    CHECK(wait_transitions());
    CHECK_EQ(slots_now(), slots_saying("original", "original"));
}

// The store's two packages applied by "lkpctl boot" exactly as the service
// file runs it (no --wait), and again; one deactivated and activated again
// through the store (the kernel freed it; lkpctl loads it again).
void boot_and_activate_through_the_store() {
    lkpctl({"install", path_of(TRIPLE_A), path_of(TRIPLE_B)});
    take_log();
    ToolRun run = lkpctl({"boot"});
    CHECK_EQ(run.out, "triple_a.tar.gz: applied\ntriple_b.tar.gz: applied\n");
    // Without the patch manager boot asks the library nothing before the
    // first load inserts it: a normal start logs no error.
    CHECK_EQ(errors_in(take_log()), Lines{});
    run = lkpctl({"boot"});
    CHECK_EQ(run.out, "triple_a.tar.gz: already active\ntriple_b.tar.gz: already active\n");
    CHECK_EQ(read_required(CONTROL), records_of(TRIPLE_A) + records_of(TRIPLE_B));

    lkpctl({"deactivate", TRIPLE_A.name});
    CHECK_EQ(lkpctl({"state", TRIPLE_A.name}, STATE_EXIT_DISABLED).out, "disabled 2\n");
    take_log();
    run = lkpctl({"activate", TRIPLE_A.name});
    CHECK(has(run.out + run.err, "the kernel freed the disabled patches of " + TRIPLE_A.name +
                                     "; removed and loaded again from " + store_path(TRIPLE_A)));
    // lkpctl sees the freed patches before asking the library to activate:
    // the log shows the removal and the load, no failure.
    CHECK_EQ(errors_in(take_log()), Lines{});
    CHECK_EQ(lkpctl({"state", TRIPLE_A.name}).out, "enabled 5\n");
    CHECK_EQ(lkpctl({"state", TRIPLE_B.name}).out, "enabled 5\n");
    // Loaded again: its records come after triple_b's.
    CHECK_EQ(read_required(CONTROL), records_of(TRIPLE_B) + records_of(TRIPLE_A));

    lkpctl({"deactivate", TRIPLE_A.name});
    lkpctl({"deactivate", TRIPLE_B.name});
    lkpctl({"remove", TRIPLE_A.name});
    lkpctl({"remove", TRIPLE_B.name});
    lkpctl({"uninstall", TRIPLE_A.name, TRIPLE_B.name});
    CHECK_EQ(errors_in(take_log()), Lines{});
    check_no_package_left();
    CHECK(wait_transitions());
    CHECK_EQ(slots_now(), slots_saying("original", "original"));
}

// A trial load of a package of three patches leaves nothing, through the
// library and through lkpctl.
void preload_of_three_patches() {
    CHECK_EQ(navo_lkp_preload(path_of(TRIPLE_A).c_str()), 0);
    CHECK_EQ(take_log(), (Lines{"[LKP-INFO]:LKP-LOAD:Success to load.",
                                "[LKP-INFO]:LKP-DEACTIVATE:Success to deactivate.",
                                "[LKP-INFO]:LKP-REMOVE:Success to remove the " + TRIPLE_A.name}));
    check_no_package_left();
    lkpctl({"validate", path_of(TRIPLE_B)});
    CHECK_EQ(errors_in(take_log()), Lines{});
    check_no_package_left();
}

std::string patches_json(const SlotPackage &package, const char *state) {
    std::string text;
    for (const std::string &patch : package.patches) {
        text += std::string(text.empty() ? "" : ",") + "{\"name\":\"" + patch + "\",\"state\":\"" +
                state + "\"}";
    }
    // Every unit of these packages is loaded: not partial.
    return "{\"name\":\"" + package.name + "\",\"state\":\"" + state + "\",\"patches\":[" + text +
           "],\"units\":" + std::to_string(package.patches.size()) + ",\"partial\":false}";
}

// A cumulative patch loaded over two older packages: the kernel disables
// and frees their patches (their modules stay), so they read disabled and
// can be removed; the cumulative one is then taken out too.
void cumulative_over_older_packages() {
    lkpctl({"load", path_of(TRIPLE_A)});
    lkpctl({"load", "--wait", path_of(TRIPLE_B)});
    CHECK_EQ(slots_now(), slots_saying("fixed", "fixed"));
    lkpctl({"load", "--wait", path_of(CUMULATIVE)});
    CHECK_EQ(slots_now(), slots_saying("cumulative", "cumulative"));
    for (const SlotPackage *package : {&TRIPLE_A, &TRIPLE_B}) {
        for (const std::string &patch : package->patches) {
            CHECK_EQ(patch_listed(patch), false);
            CHECK_EQ(module_loaded(patch), true);
        }
    }
    CHECK_EQ(lkpctl({"state", TRIPLE_A.name}, STATE_EXIT_DISABLED).out, "disabled 2\n");
    CHECK_EQ(lkpctl({"state", TRIPLE_B.name}, STATE_EXIT_DISABLED).out, "disabled 2\n");
    CHECK_EQ(lkpctl({"state", CUMULATIVE.name}).out, "enabled 5\n");
    const ToolRun status = lkpctl({"--json", "status"}, STATUS_EXIT_NEEDS_OPERATOR);
    CHECK(has(status.out, "\"loaded\":[" + patches_json(TRIPLE_A, "disabled") + "," +
                              patches_json(TRIPLE_B, "disabled") + "," +
                              patches_json(CUMULATIVE, "enabled") + "],\"in_transition\":[]"));
    if (case_failed()) {
        record_failure(__FILE__, __LINE__, "status printed " + show(status.out));
    }

    lkpctl({"remove", TRIPLE_A.name});
    lkpctl({"remove", TRIPLE_B.name});
    CHECK_EQ(read_required(CONTROL), records_of(CUMULATIVE));
    CHECK_EQ(slots_now(), slots_saying("cumulative", "cumulative"));
    lkpctl({"deactivate", CUMULATIVE.name});
    lkpctl({"remove", CUMULATIVE.name});
    CHECK_EQ(errors_in(take_log()), Lines{});
    check_no_package_left();
    CHECK(wait_transitions());
    CHECK_EQ(slots_now(), slots_saying("original", "original"));
}

// What the machine is: vCPUs online and whether processes spin beside the
// suite, for the names of the cases.
std::string machine() {
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    const std::string cmdline = read_text("/proc/cmdline");
    const size_t busy = cmdline.find("lkpvm.busy=");
    std::string text = std::to_string(cpus) + " vCPU" + (cpus == 1 ? "" : "s");
    if (busy != std::string::npos) {
        text += ", " + cmdline.substr(busy + 11, cmdline.find_first_of(" \n", busy) - busy - 11) +
                " spinning";
    }
    return text;
}

}  // namespace

void run_operator_cases(int repeats, int long_repeats) {
    run_case("system log bound", [] { CHECK(open_log()); });
    // The long ones (a round of each takes about twice as long as the
    // others') run long_repeats times.
    const struct {
        const char *name;
        void (*body)();
        bool long_one;
    } scenarios[] = {
        {"two callers at once", two_callers_at_once, false},
        {"three patches back to back", three_patches_back_to_back, false},
        {"boot and activate through the store", boot_and_activate_through_the_store, true},
        {"preload of three patches", preload_of_three_patches, false},
        {"cumulative over older packages", cumulative_over_older_packages, false},
        {"update module install, rollback, commit", update_module_install_rollback_commit, true},
    };
    constexpr int count = sizeof scenarios / sizeof scenarios[0];
    int passed[count] = {};
    const std::string where = " (" + machine();
    const int rounds = std::max(repeats, long_repeats);
    for (int round = 1; round <= rounds; ++round) {
        for (int i = 0; i < count; ++i) {
            const int runs = scenarios[i].long_one ? long_repeats : repeats;
            if (round > runs) {
                continue;
            }
            // Each run starts from nothing and must leave nothing: a run
            // that fails, or leaves something behind, is cleaned up by hand.
            passed[i] += run_case(std::string(scenarios[i].name) + where + ", " +
                                      std::to_string(round) + "/" + std::to_string(runs) + ")",
                                  [&] {
                                      scenarios[i].body();
                                      check_left_clean();
                                      if (case_failed()) {
                                          reset_packages();
                                      }
                                  });
        }
    }
    for (int i = 0; i < count; ++i) {
        report_repeats(std::string(scenarios[i].name) + where + ")", passed[i],
                       scenarios[i].long_one ? long_repeats : repeats);
    }
    // Once in the boots that ask for it (lkpvm.kills=1): its kill points are
    // spread over the commands already.
    if (has(read_required("/proc/cmdline"), "lkpvm.kills=1")) {
        run_case("killed half-way, then repaired" + where + ")", [] {
            killed_commands_are_repaired(machine());
            check_left_clean();
            if (case_failed()) {
                reset_packages();
            }
        });
    }
    run_case("kernel log clean", [] {
        const std::string log = kernel_log();
        CHECK(!log.empty());
        for (const char *bad : {"WARNING:", "BUG:", "Oops", "livepatch: failed"}) {
            CHECK(!has(log, bad));
        }
    });
}

}  // namespace guest
