// Applying the installed packages at boot: each one loaded and activated
// unless it already is; a failure is reported and the next one tried.
#include "boot.h"

#include <vector>

#include "check.h"
#include "explain.h"
#include "json.h"
#include "freed_package.h"
#include "frame/result_codes.h"
#include "store.h"
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

// Loads (unless loaded) and activates one installed package. A loaded one
// whose disabled patches the kernel has freed is removed and loaded again.
Applied apply_now(const Invocation &inv, const std::string &dir, const std::string &name) {
    const std::string state = package_state(name);
    if (state == "enabled") {
        return Applied{name, "already active", 0, "", "", "", false};
    }
    // An unknown or invalid state: the load says, with its own result code,
    // what stands in the way.
    const bool loaded = state == "disabled";
    if (!loaded) {
        const std::string path = dir + "/" + name;
        const int32_t result = navo_lkp_load(path.c_str());
        if (result != 0) {
            // The load inserts the patch manager module when it can; when
            // that failed, that is the reason, not the package.
            return failed(name, result,
                          manager_loaded() ? first_check_problem(path) : manager_missing());
        }
    }
    const int32_t result = navo_lkp_activate(name.c_str());
    if (result == tesvar::LKP_OPEN_FAILED && loaded && has_freed_patch(name)) {
        const Reloaded reloaded = reload_freed(inv, name);
        if (reloaded.result != 0) {
            return failed(name, reloaded.result, reloaded.detail);
        }
        return Applied{name, RELOADED, 0, "", "", "", false};
    }
    if (result != 0) {
        return failed(name, result, "");
    }
    return Applied{name, loaded ? "activated" : "applied", 0, "", "", "", false};
}

// With --wait, the package's transitions must end as after load and
// activate; a stalled one is undone as those commands undo it.
Applied wait_for(const Invocation &inv, Applied applied) {
    const bool loaded_now = applied.action == "applied" || applied.action == RELOADED;
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

Applied apply(const Invocation &inv, const std::string &dir, const std::string &name) {
    const Applied applied = apply_now(inv, dir, name);
    const bool changed = applied.result == 0 && applied.action != "already active";
    return inv.wait && changed ? wait_for(inv, applied) : applied;
}

std::string line_of(const Applied &applied) {
    if (applied.result == 0) {
        return applied.name + ": " + applied.action + "\n" + applied.waited;
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
    const std::string dir = store_dir(here);
    const std::vector<std::string> order = read_order(dir);
    Outcome outcome = outcome_of(0);
    JsonArray packages;
    size_t failures = 0;
    for (const std::string &name : order) {
        const Applied applied = apply(inv, dir, name);
        outcome.text += line_of(applied);
        packages.raw(json_of(applied));
        if (applied.result != 0 && ++failures == 1) {
            outcome = [&] {
                Outcome first = outcome_of(applied.result);
                first.text = outcome.text;
                return first;
            }();
        }
        if (applied.interrupted) {
            break;  // the operator gave up waiting: the rest is not tried
        }
    }
    if (order.empty()) {
        outcome.text = "nothing installed in " + dir + "\n";
    }
    if (failures != 0) {
        outcome.details.push_back(std::to_string(failures) + " of " + std::to_string(order.size()) +
                                  " installed packages failed");
    }
    outcome.data = JsonObject().string("store", dir).raw("packages", packages.str()).str();
    return outcome;
}

}  // namespace lkpctl
