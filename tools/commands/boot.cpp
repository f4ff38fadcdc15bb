// Applying the installed packages at boot: each one loaded and activated
// unless it already is; a failure is reported and the next one tried.
#include "boot.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "check.h"
#include "explain.h"
#include "frame/result_codes.h"
#include "freed_package.h"
#include "json.h"
#include "leftovers.h"
#include "list.h"
#include "repair.h"
#include "signals.h"
#include "store.h"
#include "sys/tmp_dir.h"
#include "tesvar.h"
#include "transition_command.h"

namespace lkpctl {
namespace {

struct Applied {
    std::string name;
    std::string action;  // "applied", "activated", "already active", "failed"
    int32_t result = 0;
    std::string explanation;
    std::string waited;      // with --wait: the line saying the transitions ended
    std::string transition;  // with --wait: the JSON report of the wait, or ""
    bool interrupted = false;
};

Applied failed(const std::string &name, int32_t result, const std::string &explanation) {
    return Applied{name, "failed", result, explanation, "", "", false};
}

std::string joined_details(const std::vector<std::string> &details) {
    std::string text;
    for (const std::string &detail : details) {
        text += (text.empty() ? "" : "; ") + detail;
    }
    return text;
}

constexpr const char *RELOADED = "reloaded (the kernel had freed its disabled patches)";

// The loaded packages, read once for the whole store (the store may list
// 100,000 names); a package the reading could not tell is asked for alone.
class LoadedStates {
public:
    std::string state(const std::string &name) const {
        read();
        if (!read_) {
            return package_state(name);
        }
        auto found = states_.find(name);
        return found != states_.end() ? found->second : "unknown";
    }
    // "2 of 3 patches" when the package is loaded with only some of its
    // patches, else "".
    std::string partial(const std::string &name) const {
        read();
        auto found = partial_.find(name);
        return found != partial_.end() ? found->second : "";
    }

    // What the reading found in the way and took away (see read()); each
    // step is handed out once.
    std::vector<RepairStep> take_repaired() const {
        std::vector<RepairStep> steps;
        steps.swap(repaired_);
        return steps;
    }

private:
    // At the first question, as part of the first package's work.
    void read() const {
        if (asked_) {
            return;
        }
        asked_ = true;
        std::vector<PackageView> packages;
        // Without the patch manager nothing is loaded yet.
        int32_t result = manager_loaded() ? loaded_packages(&packages) : 0;
        // What a killed load or removal left makes the two files disagree,
        // and the library then refuses every package: it goes first, as
        // repair takes it. A package whose record was left without its
        // module then reads as partial, and is loaded again.
        if (result == tesvar::LKP_INVALID_ARGUMENT) {
            repaired_ = remove_kernel_leftovers();
            if (!repaired_.empty()) {
                result = loaded_packages(&packages);
            }
        }
        read_ = result == 0;
        for (const PackageView &package : packages) {
            states_[package.name] = package.patches.back().state;
            if (package.partial()) {
                partial_[package.name] = package.count_text();
            }
        }
    }

    mutable bool asked_ = false;
    mutable bool read_ = false;
    mutable std::vector<RepairStep> repaired_;
    mutable std::unordered_map<std::string, std::string> states_;
    mutable std::unordered_map<std::string, std::string> partial_;
};

// Brings back a loaded package whose disabled patches the kernel has freed.
Applied reload(const Invocation &inv, const std::string &name) {
    const Reloaded reloaded = reload_freed(inv, name);
    if (reloaded.result != 0) {
        return failed(name, reloaded.result, reloaded.detail);
    }
    return Applied{name, RELOADED, 0, "", "", "", false};
}

// Loads (unless loaded) and activates one installed package. A partially
// loaded one is taken out first and loaded again from the store, and so is
// a loaded one whose disabled patches the kernel has freed.
Applied apply_now(const Invocation &inv, const StoreDir &store, const std::string &name,
                  const LoadedStates &states) {
    const std::string partial = states.partial(name);
    if (!partial.empty()) {
        const Outcome out = take_out(inv, name);
        if (out.exit_status != EXIT_OK) {
            return failed(name, out.result,
                          "partially loaded (" + partial + ") and could not be taken out" +
                              (out.details.empty() ? "" : ": " + joined_details(out.details)));
        }
    }
    const std::string state = partial.empty() ? states.state(name) : package_state(name);
    if (state == "enabled") {
        return Applied{name, "already active", 0, "", "", "", false};
    }
    // An unknown or invalid state: the load says, with its own result code,
    // what stands in the way.
    const bool loaded = state == "disabled";
    if (!loaded) {
        const std::string path = store.path() + "/" + name;
        bool missing = false;
        const StepResult regular = store.check_regular(name, &missing);
        if (missing || !regular.ok()) {
            return failed(name, tesvar::LKP_FILE_MISSING,
                          missing ? path + " does not exist" : regular.detail);
        }
        const int32_t result = navo_lkp_load(path.c_str());
        if (result != 0) {
            // The load inserts the patch manager module when it can; when
            // that failed, that is the reason, not the package.
            return failed(name, result,
                          manager_loaded() ? load_failure_reason(path, result) : manager_missing());
        }
    }
    // A freed package is seen before activating it, so that the library
    // logs no failed activation for a package boot then brings back; one
    // freed only meanwhile shows in the activation's -262.
    if (loaded && has_freed_patch(name)) {
        return reload(inv, name);
    }
    const int32_t result = navo_lkp_activate(name.c_str());
    if (result == tesvar::LKP_OPEN_FAILED && loaded && has_freed_patch(name)) {
        return reload(inv, name);
    }
    if (result != 0) {
        return failed(name, result, "");
    }
    if (!partial.empty()) {
        return Applied{name, "reloaded", 0, "was partially loaded: " + partial, "", "", false};
    }
    return Applied{name, loaded ? "activated" : "applied", 0, "", "", "", false};
}

// With --wait, the package's transitions must end as after load and
// activate; a stalled one is undone as those commands undo it.
Applied wait_for(const Invocation &inv, Applied applied) {
    const bool loaded_now = applied.action != "activated";
    const PackageWait waited =
        wait_for_package(inv, applied.name, loaded_now ? Change::Load : Change::Activate,
                         loaded_now ? "load" : "activate");
    if (waited.outcome.exit_status == EXIT_OK) {
        applied.waited = waited.outcome.text;
    } else {
        applied =
            failed(applied.name, waited.outcome.result, joined_details(waited.outcome.details));
        applied.interrupted = waited.interrupted;
    }
    applied.transition = waited.json;
    return applied;
}

Applied apply(const Invocation &inv, const StoreDir &store, const std::string &name,
              const LoadedStates &states) {
    const Applied applied = apply_now(inv, store, name, states);
    const bool changed = applied.result == 0 && applied.action != "already active";
    return inv.wait && changed ? wait_for(inv, applied) : applied;
}

std::string line_of(const Applied &applied) {
    if (applied.result == 0) {
        const std::string why = applied.explanation.empty() ? "" : " (" + applied.explanation + ")";
        return applied.name + ": " + applied.action + why + "\n" + applied.waited;
    }
    std::string line = applied.name + ": failed: " + std::to_string(applied.result) + ": " +
                       navo_lkp_strerror(applied.result);
    if (!applied.explanation.empty()) {
        line += ": " + applied.explanation;
    }
    return line + "\n";
}

std::string json_of(const Applied &applied) {
    JsonObject object;
    object.string("name", applied.name)
        .string("action", applied.action)
        .number("result", applied.result)
        .string("message", navo_lkp_strerror(applied.result));
    if (!applied.explanation.empty()) {
        object.string("explanation", applied.explanation);
    }
    if (!applied.transition.empty()) {
        object.raw("transition", applied.transition);
    }
    return object.str();
}

// What boot changed, taken back newest first when an operator cancels it.
std::string undo_all(const std::vector<Applied> &changed) {
    std::string text;
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
        const Change change = it->action == "activated" ? Change::Activate : Change::Load;
        text += (text.empty() ? "" : "; ") + it->name + " " + undo_change(change, it->name);
    }
    return text;
}

}  // namespace

const ValueOption BOOT_OPTIONS[] = {
    {"--root", nullptr, "DIR", "the root of the system whose store is applied (default /)"},
};
const size_t BOOT_OPTION_COUNT = sizeof BOOT_OPTIONS / sizeof BOOT_OPTIONS[0];

std::string package_state(const std::string &name) {
    const int32_t number = navo_lkp_state(name.c_str());
    for (const livepatch_state_entry &entry : livepatch_state_info) {
        if (entry.state == number) {
            return entry.word;
        }
    }
    return "invalid";
}

Outcome run_boot(const Invocation &inv) {
    Invocation here = inv;
    here.values.erase("--kernel-release");  // boot applies the running release only
    StoreDir store;
    Order order;
    const StepResult step = open_order(here, &store, &order);
    if (!step.ok()) {
        Outcome outcome = outcome_of(step.code);
        outcome.details.push_back(step.detail);
        outcome.data = JsonObject().string("store", store_dir(here)).str();
        return outcome;
    }
    // What killed loads left in /tmp goes even when nothing is to be loaded.
    (void)tesvar::visit_stale_tmp_dirs(true, nullptr, nullptr);
    const std::string dir = store.path();
    const LoadedStates states;
    Outcome outcome = outcome_of(0);
    JsonArray packages;
    size_t failures = 0;
    const auto count_failure = [&](int32_t result) {
        if (++failures == 1) {
            Outcome first = outcome_of(result);
            first.text = outcome.text;
            outcome = first;
        }
    };
    JsonArray refused;
    for (const std::string &rejected : order.rejected) {
        outcome.text += "refused " + rejected + "\n";
        refused.string(rejected);
        count_failure(tesvar::LKP_INVALID_ARGUMENT);
    }
    JsonArray repaired;
    size_t leftovers = 0;
    size_t unrepaired = 0;
    std::vector<Applied> changed;
    for (const std::string &name : order.names) {
        if (termination_pending()) {
            break;  // cancelled: what was done is undone below
        }
        const Applied applied = apply(inv, store, name, states);
        for (const RepairStep &step : states.take_repaired()) {
            outcome.text += line_of(step);
            repaired.raw(json_of(step));
            ++leftovers;
            if (step.result != 0) {
                ++unrepaired;
                count_failure(step.result);
            }
        }
        if (applied.result == 0 && applied.action != "already active") {
            changed.push_back(applied);
        }
        outcome.text += line_of(applied);
        packages.raw(json_of(applied));
        if (applied.result != 0) {
            count_failure(applied.result);
        }
        if (applied.interrupted) {
            break;  // the operator gave up waiting: the rest is not tried
        }
    }
    const size_t entries = order.names.size() + order.rejected.size();
    if (entries == 0) {
        outcome.text = "nothing installed in " + dir + "\n";
    }
    if (unrepaired != 0) {
        outcome.details.push_back(std::to_string(unrepaired) +
                                  " leftovers of killed loads or removals could not be removed");
    }
    if (failures > unrepaired) {
        outcome.details.push_back(std::to_string(failures - unrepaired) + " of " +
                                  std::to_string(entries) + " installed packages failed");
    }
    JsonObject data;
    data.string("store", dir).raw("packages", packages.str());
    if (leftovers != 0) {
        data.raw("repaired", repaired.str());
    }
    if (!order.rejected.empty()) {
        data.raw("refused", refused.str());
    }
    outcome.data = data.str();
    if (!changed.empty()) {
        outcome.undo = [changed] { return undo_all(changed); };
    }
    return outcome;
}

}  // namespace lkpctl
