// lkpctl killed half-way on the real kernel, as a power cut of the process,
// the OOM killer or a service manager's stop would do it (SIGKILL to its
// process group), each kill followed by the documented recovery, `lkpctl
// repair`: after it the package is whole or gone, every module has its
// record and no /tmp/lkp_* is left. Where the kill falls depends on the
// moment; the checks hold for every moment.
#include "guest_killed.h"

#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "guest_checks.h"
#include "guest_kernel.h"
#include "guest_processes.h"
#include "guest_slots.h"

namespace guest {
namespace {

const std::string CONTROL = "/proc/navo_lkp_list";
// Kill points spread over a whole load, and over a whole removal.
constexpr int LOAD_KILLS = 4;
constexpr int REMOVE_KILLS = 2;

void sleep_for_ms(long ms) {
    timespec span{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&span, &span) != 0) {
    }
}

std::string command_line(const std::vector<std::string> &args) {
    std::string text = "lkpctl";
    for (const std::string &arg : args) {
        text += " " + arg;
    }
    return text;
}

// Runs lkpctl, which must succeed; how long it took.
long timed_lkpctl(const std::vector<std::string> &args) {
    const long start = now_ms();
    const ToolRun run = run_lkpctl(args);
    if (run.status != 0) {
        record_failure(__FILE__, __LINE__,
                       command_line(args) + ": exit " + std::to_string(run.status) + ", stdout " +
                           show(run.out) + ", stderr " + show(run.err));
    }
    return now_ms() - start;
}

int modules_loaded(const SlotPackage &package) {
    int loaded = 0;
    for (const std::string &patch : package.patches) {
        loaded += module_loaded(patch) ? 1 : 0;
    }
    return loaded;
}

std::string records_now(const SlotPackage &package) {
    return module_loaded("tesvar") ? records_in(read_required(CONTROL), package) : "";
}

// What the kill left, in words, for the counts.
std::string kind_of_leftover(const SlotPackage &package) {
    const int modules = modules_loaded(package);
    const std::string records = records_now(package);
    const int whole = static_cast<int>(package.patches.size());
    std::string kind;
    if (records == records_of(package) && modules == whole) {
        kind = "whole";
    } else if (records.empty() && modules == 0) {
        kind = "nothing";
    } else if (records.empty()) {
        kind = "orphan modules";
    } else {
        kind = "partial";
    }
    return kind + (lkp_tmp_entries().empty() ? "" : " + /tmp/lkp_*");
}

// After the recovery: the package whole or gone, each module with its
// record, no temporary directory.
void check_whole_or_nothing(const SlotPackage &package, const std::string &when) {
    const int modules = modules_loaded(package);
    const std::string records = records_now(package);
    const bool nothing = records.empty() && modules == 0;
    const bool whole =
        records == records_of(package) && modules == static_cast<int>(package.patches.size());
    if (!nothing && !whole) {
        record_failure(
            __FILE__, __LINE__,
            when + ": " + std::to_string(modules) + " modules, records " + show(records));
    }
    if (!lkp_tmp_entries().empty()) {
        record_failure(__FILE__, __LINE__, when + ": /tmp/lkp_* left");
    }
}

// lkpctl with these arguments killed after `delay_ms`, then `lkpctl
// repair`; a package left whole is then removed. The outcome is counted.
void kill_then_repair(const std::vector<std::string> &args, long delay_ms,
                      std::map<std::string, int> *outcomes) {
    const std::string when =
        command_line(args) + " killed after " + std::to_string(delay_ms) + " ms";
    std::vector<std::string> argv{LKPCTL};
    argv.insert(argv.end(), args.begin(), args.end());
    StartedGroup started(argv);
    CHECK(started.started());
    sleep_for_ms(delay_ms);
    const bool killed = started.kill_group();
    ++(*outcomes)[killed ? kind_of_leftover(TRIPLE_A) : "finished"];
    const ToolRun repair = run_lkpctl({"repair"});
    if (repair.status != 0) {
        record_failure(__FILE__, __LINE__,
                       when + ": lkpctl repair: exit " + std::to_string(repair.status) +
                           ", stdout " + show(repair.out) + ", stderr " + show(repair.err));
    }
    check_whole_or_nothing(TRIPLE_A, when + ", then repaired");
    if (records_now(TRIPLE_A) == records_of(TRIPLE_A)) {
        timed_lkpctl({"remove", TRIPLE_A.name});
    }
    check_no_package_left();
}

std::string counts_text(const std::map<std::string, int> &outcomes) {
    std::string text;
    for (const auto &[kind, count] : outcomes) {
        text += (text.empty() ? "" : ", ") + kind + " " + std::to_string(count);
    }
    return text;
}

// A removal cut off between a module's removal and its "rm" line, made
// exactly: the last module taken out by hand. The record left without its
// module makes the kernel's files disagree for the package; repair writes
// the missing line, and the package, now partial, is removed.
void record_without_module_is_repaired() {
    timed_lkpctl({"load", "--wait", package_path(TRIPLE_A)});
    timed_lkpctl({"deactivate", TRIPLE_A.name});
    CHECK_EQ(remove_module(TRIPLE_A.patches.back()), 0);
    // The state file has a line too few: status explains the disagreement
    // (exit 3, not 1) and shows the package as the files give it.
    const ToolRun status = run_lkpctl({"--json", "status"});
    CHECK_EQ(status.status, 3);
    CHECK(status.out.find("\"kind\":\"records-disagree\"") != std::string::npos);
    CHECK(status.out.find("\"kind\":\"record-without-module\",\"package\":\"" + TRIPLE_A.name +
                          "\"") != std::string::npos);
    CHECK(status.out.find("{\"name\":\"" + TRIPLE_A.patches.back() + "\",\"state\":\"unknown\"}") !=
          std::string::npos);
    if (case_failed()) {
        record_failure(__FILE__, __LINE__, "status printed " + show(status.out));
    }
    const ToolRun repair = run_lkpctl({"repair"});
    CHECK_EQ(repair.status, 0);
    CHECK_EQ(repair.out, "record of " + TRIPLE_A.patches.back() + " (" + TRIPLE_A.name +
                             ") without its module: removed\npartial package " + TRIPLE_A.name +
                             " (2 of 3 patches): removed\n");
    check_no_package_left();
}

}  // namespace

void killed_commands_are_repaired(const std::string &machine) {
    record_without_module_is_repaired();
    // The whole load and the whole removal (which deactivates first and
    // waits), timed: the kill points are spread over them.
    const long load_ms = timed_lkpctl({"load", package_path(TRIPLE_A)});
    const long remove_ms = timed_lkpctl({"remove", TRIPLE_A.name});
    check_no_package_left();
    std::map<std::string, int> load_outcomes;
    for (int i = 1; i <= LOAD_KILLS; ++i) {
        kill_then_repair({"load", package_path(TRIPLE_A)}, load_ms * i / (LOAD_KILLS + 1),
                         &load_outcomes);
    }
    // Whatever the kills of the loads left, the package loads whole again.
    std::map<std::string, int> remove_outcomes;
    for (int i = 1; i <= REMOVE_KILLS; ++i) {
        timed_lkpctl({"load", "--wait", package_path(TRIPLE_A)});
        CHECK_EQ(read_required(CONTROL), records_of(TRIPLE_A));
        CHECK_EQ(slots_now(), slots_saying("fixed", "original"));
        kill_then_repair({"remove", TRIPLE_A.name}, remove_ms * i / (REMOVE_KILLS + 1),
                         &remove_outcomes);
    }
    report_counts("killed lkpctl load (" + machine + ", load " + std::to_string(load_ms) + " ms)",
                  counts_text(load_outcomes));
    report_counts(
        "killed lkpctl remove (" + machine + ", remove " + std::to_string(remove_ms) + " ms)",
        counts_text(remove_outcomes));
}

}  // namespace guest
