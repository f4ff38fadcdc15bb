// Removing crash leftovers. An orphan patch has no record, so no package
// operation reaches it: its enabled switch is turned off here (when on),
// its transition waited for, and its module removed. A partial package is
// deactivated when active, waited for, and removed through the library.
#include "repair.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "frame/result_codes.h"
#include "json.h"
#include "kernel/kernel_paths.h"
#include "leftovers.h"
#include "sys/kernel_files_lock.h"
#include "sys/owned_fd.h"
#include "tesvar.h"
#include "transition_wait.h"

namespace lkpctl {
namespace {

constexpr int32_t STATE_ENABLED = 5;
constexpr double REPAIR_WAIT_SECONDS = 60.0;
const char *const ORPHANS_UNSEARCHED = "orphan patch modules";
const char *const LOCKED_OUT =
    "not looked for: another caller of the library held the kernel's files past the wait "
    "bound; run lkpctl repair again";

std::string enabled_path(const std::string &patch) {
    return std::string(tesvar::LIVEPATCH_DIR) + "/" + patch + "/enabled";
}

// The patch's enabled switch reads 1.
bool switch_on(const std::string &patch) {
    const tesvar::Fd fd(open(enabled_path(patch).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    char value = '0';
    return fd.valid() && read(fd.get(), &value, 1) == 1 && value == '1';
}

// Writes "0" to the switch: 0, or the negated errno.
int32_t switch_off(const std::string &patch) {
    tesvar::Fd fd(open(enabled_path(patch).c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return -errno;
    }
    if (write(fd.get(), "0", 1) != 1) {
        return -errno;
    }
    return fd.close() == 0 ? 0 : -errno;
}

// Empty when the patches' transitions ended in time; else what stalled.
std::string settle(const std::vector<std::string> &patches) {
    TransitionWaitLimits limits;
    limits.timeout_seconds = REPAIR_WAIT_SECONDS;
    const TransitionReport report =
        wait_for_transitions(patches, limits, [](const TransitionEvent &) {});
    if (report.completed) {
        return "";
    }
    std::string stalled;
    for (const std::string &patch : report.stalled) {
        stalled += (stalled.empty() ? "" : ", ") + patch;
    }
    return "still in transition: " + stalled;
}

// Writes the "rm" line a killed removal did not write, under the lock a
// change holds: 0, or the negated errno.
int32_t write_missing_rm_line(const ControlRecord &record) {
    const tesvar::KernelFilesLock lock(tesvar::KernelFilesLock::Mode::Exclusive);
    if (lock.timed_out()) {
        return -EAGAIN;
    }
    tesvar::Fd fd(open(tesvar::CONTROL_FILE, O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return -errno;
    }
    const std::string line =
        "rm," + std::to_string(record.units) + "," + record.package + "," + record.patch;
    if (write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        return -errno;
    }
    return fd.close() == 0 ? 0 : -errno;
}

RepairStep remove_record_without_module(const ControlRecord &record) {
    RepairStep step{"record of " + record.patch + " (" + record.package + ") without its module", 0,
                    ""};
    step.result = write_missing_rm_line(record);
    return step;
}

RepairStep remove_orphan(const std::string &patch) {
    RepairStep step{"orphan patch module " + patch, 0, ""};
    step.result = remove_orphan_patch(patch, &step.detail);
    return step;
}

RepairStep remove_partial(const PartialPackage &package) {
    RepairStep step{"partial package " + package.name + " (" + std::to_string(package.registered) +
                        " of " + std::to_string(package.units) + " patches)",
                    0, ""};
    if (navo_lkp_state(package.name.c_str()) == STATE_ENABLED) {
        step.result = navo_lkp_deactivate(package.name.c_str());
        if (step.result != 0) {
            step.detail = "cannot deactivate it";
            return step;
        }
        step.detail = settle(package.patches);
        if (!step.detail.empty()) {
            step.result = -ETIMEDOUT;
            return step;
        }
    }
    step.result = navo_lkp_remove(package.name.c_str());
    return step;
}

}  // namespace

std::string line_of(const RepairStep &step) {
    if (step.result == 0) {
        return step.what + ": removed\n";
    }
    return step.what + ": failed: " + std::to_string(step.result) + ": " +
           navo_lkp_strerror(step.result) + (step.detail.empty() ? "" : ": " + step.detail) + "\n";
}

std::string json_of(const RepairStep &step) {
    JsonObject object;
    object.string("what", step.what)
        .number("result", step.result)
        .string("message", navo_lkp_strerror(step.result));
    if (!step.detail.empty()) {
        object.string("explanation", step.detail);
    }
    return object.str();
}

int32_t remove_orphan_patch(const std::string &patch, std::string *detail) {
    if (switch_on(patch)) {
        const int32_t result = switch_off(patch);
        if (result != 0) {
            *detail = "cannot disable it";
            return result;
        }
        *detail = settle({patch});
        if (!detail->empty()) {
            return -ETIMEDOUT;
        }
    }
    return navo_lkp_rmmod(patch.c_str());
}

std::vector<RepairStep> remove_kernel_leftovers() {
    std::vector<RepairStep> steps;
    // Records whose module a killed removal took out first: without them the
    // package reads as partial, which repair then removes whole.
    for (const ControlRecord &record : find_records_without_module()) {
        steps.push_back(remove_record_without_module(record));
    }
    // Orphans next: a partial package's missing unit is often one.
    bool locked_out = false;
    for (const std::string &patch : find_orphan_patches(&locked_out)) {
        steps.push_back(remove_orphan(patch));
    }
    if (locked_out) {
        // Not "nothing to repair": nothing could be looked at.
        steps.push_back(RepairStep{ORPHANS_UNSEARCHED, -EAGAIN, LOCKED_OUT});
    }
    return steps;
}

Outcome run_repair(const Invocation & /*inv*/) {
    std::vector<RepairStep> steps = remove_kernel_leftovers();
    const bool locked_out = !steps.empty() && steps.back().what == ORPHANS_UNSEARCHED;
    for (const PartialPackage &package : find_partial_packages()) {
        steps.push_back(remove_partial(package));
    }
    for (const std::string &dir : find_stale_tmp_dirs(true)) {
        const bool gone = access(dir.c_str(), F_OK) != 0;
        steps.push_back(RepairStep{"stale temporary directory " + dir, gone ? 0 : -ENOTEMPTY,
                                   gone ? "" : "rm could not remove it"});
    }
    Outcome outcome = outcome_of(0);
    JsonArray removed;
    size_t failures = 0;
    for (const RepairStep &step : steps) {
        outcome.text += line_of(step);
        removed.raw(json_of(step));
        if (step.result != 0 && ++failures == 1) {
            const std::string text = outcome.text;
            outcome = outcome_of(step.result);
            outcome.text = text;
        }
    }
    if (steps.empty()) {
        outcome.text = "nothing to repair\n";
    }
    // The search that could not be made is a failure, not a leftover.
    const size_t unsearched = locked_out ? 1 : 0;
    if (failures > unsearched) {
        outcome.details.push_back(std::to_string(failures - unsearched) + " of " +
                                  std::to_string(steps.size() - unsearched) +
                                  " leftovers could not be removed");
    }
    if (locked_out) {
        outcome.details.emplace_back("orphan patch modules were not looked for");
    }
    outcome.data = JsonObject().raw("repaired", removed.str()).str();
    return outcome;
}

}  // namespace lkpctl
