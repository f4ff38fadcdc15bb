// --wait for load, activate and deactivate: after the library call, wait
// until no patch of the package is in transition; on timeout, undo what the
// command did and say what stalled.
#ifndef LKPCTL_TRANSITION_COMMAND_H
#define LKPCTL_TRANSITION_COMMAND_H

#include <string>

#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

// What the command did, and so how a stalled transition is undone.
enum class Change {
    Load,        // disable the package, then remove it
    Activate,    // disable it
    Deactivate,  // enable it again, where the kernel still allows it
};

// What waiting for one package's transitions came to: success with a line
// of text, or -110 with the explanation of what stalled and how the command
// step ("load", "activate"...) was undone; json is the "transition" object
// of the JSON output.
struct PackageWait {
    Outcome outcome;
    std::string json;
    bool interrupted = false;  // an operator's signal ended the wait
};
PackageWait wait_for_package(const Invocation &inv, const std::string &package, Change change,
                             const std::string &step);

// Undoes a change that ended (a cancelled command): as after a stalled
// transition, with the reversed transition waited for. Says what was done.
std::string undo_change(Change change, const std::string &package);

// Takes an active package out: disables it first, waits for that
// transition (inv's --wait, else 60 s; a stall enables it again and fails
// -110), then removes it. The outcome's text says each step.
Outcome take_out(const Invocation &inv, const std::string &package);

// outcome is the library call's; unchanged without --wait or when it failed.
Outcome finish_transitions(const Invocation &inv, Outcome outcome, const std::string &package,
                           Change change);

}  // namespace lkpctl

#endif
