// The operators' suite's scenario of lkpctl killed half-way on the real
// kernel, then repaired.
#pragma once

#include <string>

namespace guest {

// `lkpctl load` and `lkpctl remove` of triple_a killed at points spread
// over each command, each kill followed by `lkpctl repair`; `machine` names
// the boot for the counts of what the kills left.
void killed_commands_are_repaired(const std::string &machine);

}  // namespace guest
