// The status view: what is loaded now and what boot would apply.
#include "status.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "boot.h"
#include "explain.h"
#include "json.h"
#include "kernel/kernel_paths.h"
#include "leftovers.h"
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

// What a crash left behind: listed, and status fails (-117) so that a
// script notices; lkpctl repair removes it.
void add_leftovers(std::string *text, JsonObject *data, Outcome *outcome) {
    const Leftovers leftovers = find_leftovers();
    if (leftovers.empty()) {
        return;
    }
    *text += "crash leftovers (lkpctl repair removes them):\n" + leftovers_text(leftovers);
    data->raw("leftovers", leftovers_json(leftovers));
    if (outcome->exit_status == EXIT_OK) {
        *outcome = outcome_of(-EUCLEAN);
    }
    outcome->details.push_back(
        "a crash left patch modules, packages or directories behind; "
        "run lkpctl repair");
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
    StoreDir store;
    StepResult read = open_store(inv, false, &store);
    Order order;
    if (read.ok()) {
        read = read_order(store, &order);
    }
    if (!read.ok()) {
        if (outcome.exit_status == EXIT_OK) {
            outcome = outcome_of(read.code);
        }
        outcome.details.push_back(read.detail);
    }
    const std::string dir = store_dir(inv);
    const std::vector<std::string> &installed = order.names;
    std::unordered_map<std::string, const PackageView *> by_name;
    for (const PackageView &package : loaded) {
        by_name.emplace(package.name, &package);
    }
    const std::vector<std::string> in_transition = patches_in_transition(loaded);

    std::string text =
        "kernel release: " + printable(inv.value("--kernel-release", running_release())) +
        "\nlive patching: " +
        (livepatch ? "supported"
                   : "not supported (no " + std::string(tesvar::LIVEPATCH_DIR) + ")") +
        "\npatch manager: " + (manager ? "loaded" : "not loaded\n  " + manager_missing()) +
        "\nloaded packages:\n" + loaded_text(loaded, in_transition) + "installed packages (" + dir +
        ", boot order):\n";
    JsonArray installed_json;
    for (const std::string &name : installed) {
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
    if (installed.empty() && order.rejected.empty()) {
        text += "  (none)\n";
    }
    for (const std::string &rejected : order.rejected) {
        text += "  refused " + rejected + "\n";
    }
    JsonObject data;
    data.string("release", inv.value("--kernel-release", running_release()))
        .raw("livepatch", json_bool(livepatch))
        .raw("manager", json_bool(manager))
        .raw("loaded", packages_json(loaded))
        .raw("in_transition", strings_json(in_transition))
        .string("store", dir)
        .raw("installed", installed_json.str());
    if (!order.rejected.empty()) {
        data.raw("refused", strings_json(order.rejected));
    }
    add_leftovers(&text, &data, &outcome);
    outcome.text = text;
    outcome.data = data.str();
    return outcome;
}

}  // namespace lkpctl
