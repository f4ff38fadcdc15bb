// The finding sources of "lkpctl status", one function per kind.
#include "status_findings.h"

#include <algorithm>

#include "explain.h"
#include "json.h"

namespace lkpctl {
namespace {

using FindingSource = void (*)(const StatusView &view, StatusFindings *findings);

bool contains(const std::vector<std::string> &words, const std::string &word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

bool is_loaded(const StatusView &view, const std::string &name) {
    return std::any_of(view.loaded.begin(), view.loaded.end(),
                       [&](const PackageView &package) { return package.name == name; });
}

void no_livepatch(const StatusView &view, StatusFindings *findings) {
    if (!view.livepatch) {
        findings->push_back({"no-livepatch", "", "the kernel does not support live patching"});
    }
}

void manager_absent(const StatusView &view, StatusFindings *findings) {
    if (view.livepatch && !view.manager) {
        findings->push_back({"manager-missing", "", lkpctl::manager_missing()});
    }
}

void records_unreadable(const StatusView &view, StatusFindings *findings) {
    if (view.manager && !view.records_read) {
        findings->push_back({"records-unreadable", "",
                             "the control and state files cannot be read, or they disagree"});
    }
    if (view.records_disagree) {
        findings->push_back({"records-disagree", "",
                             "the control and state files disagree because of the leftovers "
                             "below: every load, switch and removal fails until lkpctl repair "
                             "(or lkpctl boot) removes them"});
    }
}

// After a reboot, boot applies them; not loaded now means boot has not run
// or failed for them.
void installed_not_loaded(const StatusView &view, StatusFindings *findings) {
    if (!view.running_store) {
        return;
    }
    for (const std::string &name : view.installed) {
        if (!is_loaded(view, name)) {
            findings->push_back(
                {"not-loaded", name, name + " is installed but not loaded: run lkpctl boot"});
        }
    }
}

void loaded_not_installed(const StatusView &view, StatusFindings *findings) {
    if (!view.running_store) {
        return;
    }
    for (const PackageView &package : view.loaded) {
        if (!contains(view.installed, package.name)) {
            findings->push_back(
                {"not-installed", package.name,
                 package.name + " is loaded but not installed, so it is lost at the next reboot: "
                                "lkpctl install its file, or remove it"});
        }
    }
}

void partially_loaded(const StatusView &view, StatusFindings *findings) {
    for (const PackageView &package : view.loaded) {
        if (package.partial()) {
            findings->push_back(
                {"partial", package.name,
                 package.name + " is partially loaded (" + package.count_text() +
                     "): lkpctl boot loads it again when it is installed; else lkpctl remove it "
                     "and load it again"});
        }
    }
}

size_t count_in_state(const PackageView &package, const char *state) {
    return static_cast<size_t>(
        std::count_if(package.patches.begin(), package.patches.end(),
                      [state](const PatchView &patch) { return patch.state == state; }));
}

// Some patches enabled and some disabled: an activation or deactivation was
// cut off half-way, so the package's fix is only half in force. (A patch
// without a state line is a leftover of its own.)
void half_switched(const StatusView &view, StatusFindings *findings) {
    for (const PackageView &package : view.loaded) {
        const size_t enabled = count_in_state(package, "enabled");
        if (enabled != 0 && count_in_state(package, "disabled") != 0) {
            findings->push_back(
                {"half-switched", package.name,
                 package.name + " is half switched (" + std::to_string(enabled) + " of " +
                     std::to_string(package.patches.size()) +
                     " patches enabled): lkpctl boot mends it when it is installed; else "
                     "lkpctl activate or deactivate it"});
        }
    }
}

void in_transition(const StatusView &view, StatusFindings *findings) {
    for (const PackageView &package : view.loaded) {
        for (const PatchView &patch : package.patches) {
            if (contains(view.in_transition, patch.name)) {
                findings->push_back({"in-transition", package.name,
                                     "patch " + patch.name + " of " + package.name +
                                         " is in transition; if it stays so, see "
                                         "docs/transitions.md"});
            }
        }
    }
}

// What a crash left behind (see leftovers.h and docs/recovery.md).
void crash_leftovers(const StatusView &view, StatusFindings *findings) {
    if (view.orphans_unknown) {
        findings->push_back({"orphans-unknown", "",
                             "orphan patch modules were not looked for: another caller of the "
                             "library held the kernel's files past the wait bound; run lkpctl "
                             "status again"});
    }
    for (const ControlRecord &record : view.records_without_module) {
        findings->push_back({"record-without-module", record.package,
                             "the record of " + record.patch + " (" + record.package +
                                 ") has no module in the kernel (a removal killed between "
                                 "taking out the module and its record): lkpctl repair removes "
                                 "it"});
    }
    for (const std::string &patch : view.orphan_patches) {
        findings->push_back({"orphan-patch", "",
                             "patch module " + patch +
                                 " is in the kernel without a record (a load killed between its "
                                 "insertion and registration): lkpctl repair removes it"});
    }
    for (const std::string &dir : view.stale_tmp_dirs) {
        findings->push_back({"stale-tmp", "",
                             dir + " was left by a killed load: lkpctl repair (or the next "
                                   "load, or boot) removes it"});
    }
}

// Order lines the store refuses, and a store it cannot read.
void store_refusals(const StatusView &view, StatusFindings *findings) {
    if (!view.store_problem.empty()) {
        findings->push_back({"store-unreadable", "", view.store_problem});
    }
    for (const std::string &refused : view.refused) {
        findings->push_back({"order-refused", "", "refused " + refused + ": fix the order file"});
    }
}

const FindingSource SOURCES[] = {
    no_livepatch,         manager_absent,   records_unreadable, installed_not_loaded,
    loaded_not_installed, partially_loaded, half_switched,      in_transition,
    crash_leftovers,      store_refusals,
};

}  // namespace

StatusFindings status_findings(const StatusView &view) {
    StatusFindings findings;
    for (const FindingSource source : SOURCES) {
        source(view, &findings);
    }
    return findings;
}

std::string findings_summary(const StatusFindings &findings) {
    if (findings.empty()) {
        return "";
    }
    const size_t more = findings.size() - 1;
    return "needs an operator: " + findings.front().text +
           (more == 0 ? "" : " (and " + std::to_string(more) + " more below)") + "\n";
}

std::string findings_json(const StatusFindings &findings) {
    JsonArray array;
    for (const StatusFinding &finding : findings) {
        array.raw(
            JsonObject()
                .string("kind", finding.kind)
                .raw("package", finding.package.empty() ? "null" : json_quote(finding.package))
                .string("text", finding.text)
                .str());
    }
    return array.str();
}

}  // namespace lkpctl
