// The status view: what is loaded now and what boot would apply.
#include "status.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "boot.h"
#include "explain.h"
#include "json.h"
#include "kernel/kernel_paths.h"
#include "list.h"
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

std::string strings_json(const std::vector<std::string> &words) {
    JsonArray array;
    for (const std::string &word : words) {
        array.string(word);
    }
    return array.str();
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
        text += "  " + package.name + " (" + package.patches.back().state +
                (moving ? ", in transition" : "") + ")\n";
        for (const PatchView &patch : package.patches) {
            text += "    " + patch.name + "  " + patch.state +
                    (contains(in_transition, patch.name) ? "  in transition" : "") + "\n";
        }
    }
    return text;
}

const PackageView *find_loaded(const std::vector<PackageView> &packages, const std::string &name) {
    auto found = std::find_if(packages.begin(), packages.end(),
                              [&](const PackageView &package) { return package.name == name; });
    return found != packages.end() ? &*found : nullptr;
}

}  // namespace

Outcome run_status(const Invocation &inv) {
    const bool livepatch = access(tesvar::LIVEPATCH_DIR, F_OK) == 0;
    const bool manager = manager_loaded();
    std::vector<PackageView> loaded;
    Outcome outcome = outcome_of(manager ? loaded_packages(&loaded) : 0);
    if (outcome.exit_status != EXIT_OK) {
        outcome.details.push_back("cannot read the control and state files, or they disagree" +
                                  log_hint(inv));
    }
    const std::string dir = store_dir(inv);
    const std::vector<std::string> installed = read_order(dir);
    const std::vector<std::string> in_transition = patches_in_transition(loaded);

    std::string text =
        "kernel release: " + inv.value("--kernel-release", running_release()) +
        "\nlive patching: " +
        (livepatch ? "supported"
                   : "not supported (no " + std::string(tesvar::LIVEPATCH_DIR) + ")") +
        "\npatch manager: " + (manager ? "loaded" : "not loaded\n  " + manager_missing()) +
        "\nloaded packages:\n" + loaded_text(loaded, in_transition) + "installed packages (" + dir +
        ", boot order):\n";
    JsonArray installed_json;
    for (const std::string &name : installed) {
        const PackageView *package = find_loaded(loaded, name);
        const std::string state = package != nullptr ? package->patches.back().state : "";
        text +=
            "  " + name + "  " + (package != nullptr ? "loaded, " + state : "not loaded") + "\n";
        installed_json.raw(JsonObject()
                               .string("name", name)
                               .raw("loaded", json_bool(package != nullptr))
                               .raw("state", package != nullptr ? json_quote(state) : "null")
                               .str());
    }
    if (installed.empty()) {
        text += "  (none)\n";
    }
    outcome.text = text;
    outcome.data = JsonObject()
                       .string("release", inv.value("--kernel-release", running_release()))
                       .raw("livepatch", json_bool(livepatch))
                       .raw("manager", json_bool(manager))
                       .raw("loaded", packages_json(loaded))
                       .raw("in_transition", strings_json(in_transition))
                       .string("store", dir)
                       .raw("installed", installed_json.str())
                       .str();
    return outcome;
}

}  // namespace lkpctl
