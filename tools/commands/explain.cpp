// Explanations of failed operations.
#include "explain.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "check.h"
#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "list.h"
#include "pack_names.h"
#include "package_units.h"
#include "store.h"

namespace lkpctl {
namespace {

// The subcommands that need the patch manager's control file.
const char *const MANAGER_COMMANDS[] = {"load",  "preload", "validate", "activate", "deactivate",
                                        "state", "remove",  "list",     "owner",    "boot"};

bool needs_manager(const std::string &command) {
    for (const char *name : MANAGER_COMMANDS) {
        if (command == name) {
            return true;
        }
    }
    return false;
}

bool takes_package_file(const std::string &command) {
    return command == "load" || command == "preload" || command == "validate";
}

std::string joined(const std::vector<std::string> &words, const char *separator) {
    std::string text;
    for (const std::string &word : words) {
        text += (text.empty() ? "" : separator) + word;
    }
    return text;
}

// The loaded package of that name compared with the package file's units:
// a load that was cut off leaves only some of them in.
std::string already_loaded(const std::string &path) {
    const std::string name = base_name(path);
    std::vector<PackageView> loaded;
    if (loaded_packages(&loaded) != 0) {
        return "";
    }
    const auto found = std::find_if(loaded.begin(), loaded.end(), [&](const PackageView &package) {
        return package.name == name;
    });
    if (found == loaded.end()) {
        return "";
    }
    PackageView package = *found;
    std::vector<PackageUnit> units;
    if (read_package_units(path, &units)) {
        package.units = std::max(package.units, static_cast<int32_t>(units.size()));
    }
    std::vector<std::string> patches;
    for (const PatchView &patch : package.patches) {
        patches.push_back(patch.name);
    }
    if (!package.partial()) {
        return name + " is already loaded (" + package.count_text() + ")";
    }
    return name + " is partially loaded (" + package.count_text() + ": " + joined(patches, ", ") +
           "): take it out with 'lkpctl remove " + name +
           "' and load it again, or run 'lkpctl boot' if it is installed";
}

// The units whose modules declare a target other than vmlinux (always
// loaded): the insertion refused with ENOPKG is one of theirs.
std::string target_missing(const std::string &path) {
    std::vector<PackageUnit> units;
    if (!read_package_units(path, &units)) {
        return "";
    }
    std::vector<std::string> needs;
    for (const PackageUnit &unit : units) {
        std::vector<std::string> targets;
        for (const std::string &target : unit.targets) {
            if (target != "vmlinux") {
                targets.push_back(target);
            }
        }
        if (!targets.empty()) {
            needs.push_back("unit " + unit.archive + " (patch " + unit.patch + ") needs module " +
                            joined(targets, " and "));
        }
    }
    if (needs.empty()) {
        return "the module of one unit refused to start because a module it patches is not "
               "loaded; its modules do not declare which (lkp_target=)";
    }
    if (needs.size() == 1) {
        return needs.front() + ", which is not loaded: load it first";
    }
    return "one of these modules is not loaded: " + joined(needs, "; ");
}

}  // namespace

bool manager_loaded() {
    return access(tesvar::CONTROL_FILE, F_OK) == 0;
}

std::string manager_missing() {
    const std::string module =
        "/lib/modules/" + running_release() + "/mts/" + tesvar::MANAGER_MODULE_FILE;
    const std::string missing =
        std::string("the patch manager module is not loaded (no ") + tesvar::CONTROL_FILE + ")";
    if (access(module.c_str(), F_OK) == 0) {
        return missing + "; load it with: lkpctl insmod " + module;
    }
    // Loading a package inserts it from there itself, so that is where it belongs.
    return missing + " and " + module +
           " does not exist; install the module there, or insert it with: lkpctl insmod FILE";
}

std::string package_problem(const std::string &path) {
    const std::string problem = first_check_problem(path);
    return problem.empty() ? "" : base_name(path) + ": " + problem;
}

std::string load_failure_reason(const std::string &path, int32_t result) {
    switch (result) {
        case tesvar::LKP_FILE_MISSING:
            return missing_file(path);
        case tesvar::LKP_ALREADY_LOADED:
            return already_loaded(path);
        case tesvar::LKP_TARGET_NOT_LOADED:
            return target_missing(path);
        default:
            return first_check_problem(path);
    }
}

void explain_failure(const Invocation &inv, Outcome *outcome) {
    if (outcome->exit_status != EXIT_FAILED || !needs_manager(inv.command)) {
        return;
    }
    const bool file_missing =
        takes_package_file(inv.command) && outcome->result == tesvar::LKP_FILE_MISSING;
    // A missing package file is checked before the kernel: the patch manager
    // is not what stands in the way then.
    if (!manager_loaded() && !file_missing) {
        outcome->details = {manager_missing()};
        return;
    }
    if (takes_package_file(inv.command) && !inv.args.empty()) {
        const std::string &path = inv.args[0];
        const std::string reason = load_failure_reason(path, outcome->result);
        // These two name the file or the package themselves.
        const bool named = outcome->result == tesvar::LKP_FILE_MISSING ||
                           outcome->result == tesvar::LKP_ALREADY_LOADED;
        if (!reason.empty()) {
            outcome->details.push_back(named ? reason : base_name(path) + ": " + reason);
        }
    }
}

}  // namespace lkpctl
