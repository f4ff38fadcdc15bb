// What a subcommand did, reported the same way by every subcommand: as text
// on stdout and stderr, or as one JSON object on stdout.
#ifndef LKPCTL_OUTCOME_H
#define LKPCTL_OUTCOME_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "invocation.h"

namespace lkpctl {

enum ExitStatus : int {
    EXIT_OK = 0,
    EXIT_FAILED = 1,  // the operation failed
    EXIT_USAGE = 2,   // the command line was wrong
    // Not a failure, an answer: state's "disabled", status's "needs an operator".
    EXIT_ATTENTION = 3,
    EXIT_NOT_LOADED = 4,  // state: the package is not loaded
};

struct Outcome {
    int exit_status = EXIT_OK;
    int32_t result = 0;                // a result code; 0 for success
    std::string message;               // the text for result
    std::vector<std::string> details;  // the tool's own explanations, one per line
    std::string text;                  // stdout in text mode
    std::string data = "{}";           // "data" member in JSON mode
    // Takes back what the command did, when an operator's signal cancels it
    // after its library calls ended; says what it did. Empty: nothing to undo.
    std::function<std::string()> undo;
    bool undone = false;  // a signal cancelled the command and undo ran
};

// Success or failure as the result code says, with the library's text for it.
Outcome outcome_of(int32_t result);
// A command-line mistake: exit status 2 and the explanation.
Outcome usage_error(const std::string &detail);

// " (run with -v for the reasons)" unless the library's log is already on stderr.
std::string log_hint(const Invocation &inv);

// Prints the outcome for inv and returns the process exit status.
int report(const Invocation &inv, const Outcome &outcome);

// False when writing to stdout or stderr has failed (a full disk, a closed
// pipe): the tool then exits 1, whatever it did.
bool output_written();

}  // namespace lkpctl

#endif
