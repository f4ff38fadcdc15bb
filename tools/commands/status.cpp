// The status view: what is loaded now and what boot would apply.
#include "status.h"

#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "boot.h"
#include "explain.h"
#include "json.h"
#include "kernel/kernel_paths.h"
#include "leftovers.h"
#include "list.h"
#include "status_findings.h"
#include "store.h"
#include "transition_wait.h"

namespace lkpctl {
namespace {

const char *json_bool(bool value) {
    return value ? "true" : "false";
}

// The patches of the loaded packages now in transition. The kernel keeps no
// start time of a transition, so how long one has run is not known here.
std::vector<std::string> patches_in_transition(const std::vector<PackageView> &packages) {
    std::vector<std::string> patches;
    for (const PackageView &package : packages) {
        for (const PatchView &patch : package.patches) {
            if (patch_in_transition(patch.name)) {
                patches.push_back(patch.name);
            }
        }
    }
    return patches;
}

bool contains(const std::vector<std::string> &words, const std::string &word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

std::string loaded_text(const std::vector<PackageView> &packages,
                        const std::vector<std::string> &in_transition) {
    if (packages.empty()) {
        return "  (none)\n";
    }
    std::string text;
    for (const PackageView &package : packages) {
        const bool moving = std::any_of(
            package.patches.begin(), package.patches.end(),
            [&](const PatchView &patch) { return contains(in_transition, patch.name); });
        const std::string label = package_label(package);
        text += "  " + package.name + label.substr(0, label.size() - 1) +
                (moving ? ", in transition" : "") + ")\n";
        for (const PatchView &patch : package.patches) {
            text += "    " + patch.name + "  " + patch.state +
                    (contains(in_transition, patch.name) ? "  in transition" : "") + "\n";
        }
    }
    return text;
}

StatusView gather(const Invocation &inv, int32_t *result) {
    StatusView view;
    view.livepatch = access(tesvar::LIVEPATCH_DIR, F_OK) == 0;
    view.manager = manager_loaded();
    *result = view.manager ? loaded_packages(&view.loaded) : 0;
    view.records_read = *result == 0;
    view.in_transition = patches_in_transition(view.loaded);
    view.store = store_dir(inv);
    view.running_store = inv.value("--kernel-release", running_release()) == running_release();
    StoreDir store;
    Order order;
    const StepResult read = open_order(inv, &store, &order);
    view.store_problem = read.ok() ? "" : read.detail;
    view.installed = order.names;
    view.refused = order.rejected;
    view.orphan_patches = find_orphan_patches(&view.orphans_unknown);
    view.records_without_module = find_records_without_module();
    view.stale_tmp_dirs = find_stale_tmp_dirs();
    // What a killed load or removal left makes the two files disagree, so
    // the library refuses them; the packages are then shown as they are.
    const bool leftovers = !view.orphan_patches.empty() || !view.records_without_module.empty();
    if (view.manager && !view.records_read && leftovers &&
        registered_packages_as_they_are(&view.loaded) == 0) {
        view.records_read = true;
        view.records_disagree = true;
        view.in_transition = patches_in_transition(view.loaded);
        *result = 0;
    }
    return view;
}

}  // namespace

Outcome run_status(const Invocation &inv) {
    int32_t result = 0;
    const StatusView view = gather(inv, &result);
    Outcome outcome = outcome_of(result);
    if (outcome.exit_status != EXIT_OK) {
        outcome.details.push_back("cannot read the control and state files, or they disagree" +
                                  log_hint(inv));
    }
    const StatusFindings findings = status_findings(view);
    if (outcome.exit_status == EXIT_OK && !findings.empty()) {
        outcome.exit_status = EXIT_ATTENTION;
    }
    const std::string release = printable(inv.value("--kernel-release", running_release()));
    std::string text =
        findings_summary(findings) + "kernel release: " + release + "\nlive patching: " +
        (view.livepatch ? "supported"
                        : "not supported (no " + std::string(tesvar::LIVEPATCH_DIR) + ")") +
        "\npatch manager: " + (view.manager ? "loaded" : "not loaded") + "\nloaded packages:\n" +
        loaded_text(view.loaded, view.in_transition) + "installed packages (" + view.store +
        ", boot order):\n";
    std::unordered_map<std::string, const PackageView *> by_name;
    for (const PackageView &package : view.loaded) {
        by_name.emplace(package.name, &package);
    }
    JsonArray installed_json;
    for (const std::string &name : view.installed) {
        auto found = by_name.find(name);
        const PackageView *package = found != by_name.end() ? found->second : nullptr;
        const std::string state = package != nullptr ? package->patches.back().state : "";
        text +=
            "  " + name + "  " + (package != nullptr ? "loaded, " + state : "not loaded") + "\n";
        installed_json.raw(JsonObject()
                               .string("name", name)
                               .raw("loaded", json_bool(package != nullptr))
                               .raw("state", package != nullptr ? json_quote(state) : "null")
                               .str());
    }
    if (view.installed.empty()) {
        text += "  (none)\n";
    }
    if (!findings.empty()) {
        text += "needs an operator:\n";
        for (const StatusFinding &finding : findings) {
            text += "  " + finding.text + "\n";
        }
    }
    outcome.text = text;
    outcome.data = JsonObject()
                       .string("release", release)
                       .raw("livepatch", json_bool(view.livepatch))
                       .raw("manager", json_bool(view.manager))
                       .raw("loaded", packages_json(view.loaded))
                       .raw("in_transition", json_strings(view.in_transition))
                       .string("store", view.store)
                       .raw("installed", installed_json.str())
                       .raw("findings", findings_json(findings))
                       .str();
    return outcome;
}

}  // namespace lkpctl
