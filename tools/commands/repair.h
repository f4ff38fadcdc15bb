// "lkpctl repair": removes what a crash left behind (see leftovers.h):
// orphan patch modules, partial packages and stale temporary directories.
#ifndef LKPCTL_REPAIR_H
#define LKPCTL_REPAIR_H

#include <cstdint>
#include <string>

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_repair(const Invocation &inv);

// Removes an orphan patch module: its enabled switch turned off first when
// on, and its transition waited for. 0, or the failed step's result code
// with *detail saying which step.
int32_t remove_orphan_patch(const std::string &patch, std::string *detail);

}  // namespace lkpctl

#endif
