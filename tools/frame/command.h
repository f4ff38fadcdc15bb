// The subcommand table: each entry names a subcommand, says how it is used
// and points at the function that runs it.
#ifndef LKPCTL_COMMAND_H
#define LKPCTL_COMMAND_H

#include <cstddef>

#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

// An option of one command: one that takes a value, such as "-o FILE", or
// a flag (no value_name), such as "--any-name".
struct ValueOption {
    const char *long_name;   // "--output"
    const char *short_name;  // "-o", or nullptr
    const char *value_name;  // "FILE", or nullptr for a flag
    const char *help;
};

struct Command {
    const char *name;         // "load"
    const char *synopsis;     // what follows the name: "PKG"
    const char *summary;      // one line for the command list
    const char *description;  // the paragraph of "lkpctl NAME --help"
    size_t min_args;
    size_t max_args;
    const ValueOption *options;  // value options this command takes
    size_t option_count;
    Outcome (*run)(const Invocation &inv);
};

struct CommandTable {
    const Command *commands;
    size_t size;

    const Command *begin() const { return commands; }
    const Command *end() const { return commands + size; }
    // The command called name, or nullptr.
    const Command *find(const std::string &name) const;
};

}  // namespace lkpctl

#endif
