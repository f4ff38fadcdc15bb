// "lkpctl repair": removes what a crash left behind (see leftovers.h):
// orphan patch modules, partial packages and stale temporary directories.
#ifndef LKPCTL_REPAIR_H
#define LKPCTL_REPAIR_H

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_repair(const Invocation &inv);

}  // namespace lkpctl

#endif
