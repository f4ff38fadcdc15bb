// Explanations of failed operations.
#include "explain.h"

#include <unistd.h>

#include "check.h"
#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "pack_names.h"
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

void explain_failure(const Invocation &inv, Outcome *outcome) {
    if (outcome->exit_status != EXIT_FAILED || !needs_manager(inv.command)) {
        return;
    }
    if (!manager_loaded()) {
        outcome->details = {manager_missing()};
        return;
    }
    // A missing file or a package already loaded says enough on its own.
    const bool package_problem_possible = outcome->result != tesvar::LKP_FILE_MISSING &&
                                          outcome->result != tesvar::LKP_ALREADY_LOADED;
    if (takes_package_file(inv.command) && package_problem_possible && !inv.args.empty()) {
        const std::string problem = package_problem(inv.args[0]);
        if (!problem.empty()) {
            outcome->details.push_back(problem);
        }
    }
}

}  // namespace lkpctl
