// The --help texts of the tool and of each subcommand.
#ifndef LKPCTL_HELP_H
#define LKPCTL_HELP_H

#include <string>

#include "command.h"

namespace lkpctl {

std::string tool_help(const CommandTable &table);
std::string command_help(const Command &command);

}  // namespace lkpctl

#endif
