// Reporting an outcome as text or as one JSON object.
#include "outcome.h"

#include <cstdio>
#include <string>

#include "frame/result_codes.h"
#include "json.h"
#include "tesvar.h"

namespace lkpctl {
namespace {

// "lkpctl: load: " for a subcommand's lines, "lkpctl: " for the tool's own.
std::string line_prefix(const Invocation &inv) {
    return inv.command.empty() ? "lkpctl: " : "lkpctl: " + inv.command + ": ";
}

// Results of the writes are not looked at one by one: output_written()
// checks the streams' error flags once, at the end.
void print_text(const Invocation &inv, const Outcome &outcome) {
    (void)std::fputs(outcome.text.c_str(), stdout);
    for (const std::string &detail : outcome.details) {
        (void)std::fprintf(stderr, "%s%s\n", line_prefix(inv).c_str(), detail.c_str());
    }
    if (outcome.exit_status == EXIT_USAGE) {
        (void)std::fprintf(stderr, "Try 'lkpctl %s--help'.\n",
                           inv.command.empty() ? "" : (inv.command + " ").c_str());
    } else if (outcome.exit_status != EXIT_OK && outcome.result != 0) {
        (void)std::fprintf(stderr, "%s%d: %s\n", line_prefix(inv).c_str(), outcome.result,
                           outcome.message.c_str());
    }
}

void print_json(const Invocation &inv, const Outcome &outcome) {
    JsonObject object;
    // A usage error says what was wrong with the line, not the library's text for -257.
    const bool usage = outcome.exit_status == EXIT_USAGE && !outcome.details.empty();
    object.string("command", inv.command)
        .number("result", outcome.result)
        .string("message", usage ? "usage: " + outcome.details.front() : outcome.message)
        .raw("data", outcome.data);
    if (!outcome.details.empty()) {
        JsonArray details;
        for (const std::string &detail : outcome.details) {
            details.string(detail);
        }
        object.raw("details", details.str());
    }
    std::printf("%s\n", object.str().c_str());
    // The failure line still goes to stderr, for people watching a script run.
    if (outcome.exit_status != EXIT_OK && outcome.result != 0) {
        Outcome stderr_only = outcome;
        stderr_only.text.clear();
        print_text(inv, stderr_only);
    }
}

}  // namespace

Outcome outcome_of(int32_t result) {
    Outcome outcome;
    outcome.result = result;
    outcome.message = navo_lkp_strerror(result);
    outcome.exit_status = result == 0 ? EXIT_OK : EXIT_FAILED;
    return outcome;
}

Outcome usage_error(const std::string &detail) {
    Outcome outcome = outcome_of(tesvar::LKP_INVALID_ARGUMENT);
    outcome.exit_status = EXIT_USAGE;
    outcome.details.push_back(detail);
    return outcome;
}

std::string log_hint(const Invocation &inv) {
    return inv.verbose ? "" : " (run with -v for the reasons)";
}

bool output_written() {
    const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (!written) {
        (void)std::fputs("lkpctl: cannot write to standard output\n", stderr);
    }
    return written && std::fflush(stderr) == 0 && std::ferror(stderr) == 0;
}

int report(const Invocation &inv, const Outcome &outcome) {
    if (inv.json) {
        print_json(inv, outcome);
    } else {
        print_text(inv, outcome);
    }
    (void)std::fflush(stdout);
    return outcome.exit_status;
}

}  // namespace lkpctl
