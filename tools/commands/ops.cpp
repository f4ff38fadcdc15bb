// The subcommands that wrap one exported operation each. They call the
// shared library only, never the internal static one.
#include "ops.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include "cli.h"
#include "frame/result_codes.h"
#include "freed_package.h"
#include "json.h"
#include "pack_names.h"
#include "tesvar.h"
#include "transition_command.h"

namespace lkpctl {
namespace {

using Operation = int32_t (*)(const char *);

// navo_lkp_state's numbers for an enabled, a disabled and a package not loaded.
constexpr int32_t ENABLED_STATE = 5;
constexpr int32_t DISABLED_STATE = 2;
constexpr int32_t NOT_LOADED_STATE = 0;

constexpr uint32_t OWNER_BUFFER_SIZE = 64;  // the smallest answer buffer the query accepts

// Runs op on a package file path; the data names the file and its package.
Outcome package_file_op(Operation op, const Invocation &inv, const char *done) {
    const std::string &path = inv.args[0];
    // The library names a package after its file, as base_name does.
    const std::string package = base_name(path);
    Outcome outcome = outcome_of(op(path.c_str()));
    outcome.data = JsonObject().string("file", path).string("package", package).str();
    if (outcome.exit_status == EXIT_OK) {
        outcome.text = package + ": " + done + "\n";
    }
    return outcome;
}

// Runs op on the operand; the data holds it under key.
Outcome named_op(Operation op, const Invocation &inv, const char *key, const char *done) {
    const std::string &name = inv.args[0];
    Outcome outcome = outcome_of(op(name.c_str()));
    outcome.data = JsonObject().string(key, name).str();
    if (outcome.exit_status == EXIT_OK) {
        outcome.text = name + ": " + done + "\n";
    }
    return outcome;
}

// Runs op on a loaded package's name; an unknown name is said by name.
Outcome package_op(Operation op, const Invocation &inv, const char *done) {
    Outcome outcome = named_op(op, inv, "package", done);
    if (outcome.result == tesvar::LKP_NO_PATCHES) {
        outcome.details.push_back("no package named '" + inv.args[0] +
                                  "' is loaded (see lkpctl list)");
    }
    return outcome;
}

// The word livepatch_state_info gives number, or nullptr.
const char *state_word(int32_t number) {
    for (const livepatch_state_entry &entry : livepatch_state_info) {
        if (entry.state == number) {
            return entry.word;
        }
    }
    return nullptr;
}

// A command that ended well can be cancelled by an operator's signal: the
// change is then taken back. `changed` false: the command found everything
// as asked and changed nothing, so there is nothing to take back.
Outcome undoable(Outcome outcome, Change change, const std::string &package, bool changed = true) {
    if (outcome.exit_status == EXIT_OK && changed) {
        outcome.undo = [change, package] { return undo_change(change, package); };
    }
    return outcome;
}

}  // namespace

Outcome run_load(const Invocation &inv) {
    const std::string package = base_name(inv.args[0]);
    return undoable(finish_transitions(inv, package_file_op(navo_lkp_load, inv, "loaded"), package,
                                       Change::Load),
                    Change::Load, package);
}

Outcome run_preload(const Invocation &inv) {
    return package_file_op(navo_lkp_preload, inv, "would load (trial load and removal passed)");
}

Outcome run_validate(const Invocation &inv) {
    return package_file_op(navo_lkp_validate, inv, "valid (trial load and removal passed)");
}

// A package whose disabled patches the kernel has freed cannot be activated:
// it is removed and loaded again from the store when the store has it. That
// is seen before the library is asked, so that its log shows no failed
// activation for a package that is then brought back.
Outcome run_activate(const Invocation &inv) {
    const std::string &package = inv.args[0];
    if (!has_freed_patch(package) || !has_store_copy(inv, package)) {
        const bool was_on = is_switched_already(package, true);
        const Outcome outcome = package_op(navo_lkp_activate, inv, "activated");
        // Freed only now, or with no store copy: reload_freed says what to run.
        if (outcome.result != tesvar::LKP_OPEN_FAILED || !has_freed_patch(package)) {
            return undoable(finish_transitions(inv, outcome, package, Change::Activate),
                            Change::Activate, package, !was_on);
        }
    }
    const Reloaded reloaded = reload_freed(inv, package);
    Outcome again = outcome_of(reloaded.result);
    again.data = JsonObject().string("package", package).str();
    if (again.exit_status == EXIT_OK) {
        again.text = package + ": activated: " + reloaded.detail + "\n";
    } else {
        again.details.push_back(reloaded.detail);
    }
    return undoable(finish_transitions(inv, again, package, Change::Load), Change::Load, package);
}

Outcome run_deactivate(const Invocation &inv) {
    const bool was_off = is_switched_already(inv.args[0], false);
    return undoable(finish_transitions(inv, package_op(navo_lkp_deactivate, inv, "deactivated"),
                                       inv.args[0], Change::Deactivate),
                    Change::Deactivate, inv.args[0], !was_off);
}

// An active package is deactivated first: a real kernel refuses to remove
// an enabled patch's module. A removal an operator cancels is taken back
// when the store (the one boot applies) holds the package: it is loaded
// again from there; without a copy there is nothing to load.
Outcome run_remove(const Invocation &inv) {
    const std::string &name = inv.args[0];
    const bool stored = has_store_copy(inv, name);
    const bool was_active = stored && navo_lkp_state(name.c_str()) == ENABLED_STATE;
    Outcome outcome = take_out(inv, name);
    if (outcome.result == tesvar::LKP_NO_PATCHES) {
        outcome.details.push_back("no package named '" + name + "' is loaded (see lkpctl list)");
    }
    outcome.data = JsonObject().string("package", name).str();
    if (outcome.exit_status == EXIT_OK && stored) {
        outcome.undo = [inv, name, was_active] { return load_back(inv, name, was_active); };
    }
    return outcome;
}

Outcome run_insmod(const Invocation &inv) {
    return named_op(navo_lkp_insmod, inv, "module", "inserted");
}

Outcome run_rmmod(const Invocation &inv) {
    return named_op(navo_lkp_rmmod, inv, "module", "removed");
}

Outcome run_state(const Invocation &inv) {
    const std::string &name = inv.args[0];
    const int32_t number = navo_lkp_state(name.c_str());
    const char *word = state_word(number);
    Outcome outcome = outcome_of(0);
    if (word == nullptr) {
        // The state query has no result code: its number stands in for one.
        outcome.exit_status = EXIT_FAILED;
        outcome.result = number;
        outcome.message = "No valid state.";
        outcome.details.push_back(
            "the kernel's record files cannot be read, disagree, or give a state word outside "
            "enabled, disabled and unknown" +
            log_hint(inv));
        word = "invalid";
    } else if (number == DISABLED_STATE) {
        outcome.exit_status = EXIT_ATTENTION;  // as "systemctl is-active" answers: 3 inactive
    } else if (number == NOT_LOADED_STATE) {
        outcome.exit_status = EXIT_NOT_LOADED;
    }
    outcome.text = std::string(word) + " " + std::to_string(number) + "\n";
    outcome.data =
        JsonObject().string("package", name).string("state", word).number("number", number).str();
    return outcome;
}

Outcome run_owner(const Invocation &inv) {
    const std::string &module = inv.args[0];
    char package[OWNER_BUFFER_SIZE] = {};
    Outcome outcome =
        outcome_of(navo_lkp_last_patch_for_module(module.c_str(), package, sizeof package));
    if (outcome.exit_status == EXIT_OK) {
        outcome.text = std::string(package) + "\n";
        outcome.data = JsonObject().string("module", module).string("package", package).str();
        return outcome;
    }
    if (outcome.result == -ENODEV) {
        outcome.details.push_back("no loaded patch covers module '" + module + "'");
    } else if (outcome.result == -ENOENT) {
        outcome.details.push_back("no control file: the patch manager module is not loaded");
    }
    outcome.data = JsonObject().string("module", module).raw("package", "null").str();
    return outcome;
}

Outcome run_strerror(const Invocation &inv) {
    int32_t code = 0;
    if (!parse_int32(inv.args[0], &code)) {
        return usage_error("CODE must be a decimal number in the signed 32-bit range, not '" +
                           inv.args[0] + "'");
    }
    // Result codes are negative: a positive number means the same code negated.
    if (code > 0) {
        code = -code;
    }
    const std::string text = navo_lkp_strerror(code);
    Outcome outcome = outcome_of(0);
    outcome.text = text + "\n";
    outcome.data = JsonObject().number("code", code).string("text", text).str();
    return outcome;
}

}  // namespace lkpctl
