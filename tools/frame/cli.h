// Command-line parsing: global flags, the subcommand, its value options and
// its positional arguments.
#ifndef LKPCTL_CLI_H
#define LKPCTL_CLI_H

#include <cstdint>
#include <string>

#include "command.h"
#include "invocation.h"

namespace lkpctl {

struct ParsedLine {
    Invocation inv;
    const Command *command = nullptr;  // nullptr when no (known) subcommand was given
    std::string error;                 // a usage error, empty when the line is good
};

ParsedLine parse_command_line(const CommandTable &table, int argc, const char *const argv[]);

// The commands that take --wait[=SECONDS].
bool waits_for_transitions(const std::string &command);

// A whole decimal number within the signed 32-bit range.
bool parse_int32(const std::string &text, int32_t *value);

}  // namespace lkpctl

#endif
