// "lkpctl repair": removes what a crash left behind (see leftovers.h):
// orphan patch modules, partial packages and stale temporary directories.
#ifndef LKPCTL_REPAIR_H
#define LKPCTL_REPAIR_H

#include <cstdint>
#include <string>
#include <vector>

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_repair(const Invocation &inv);

// One leftover taken away, or not: what it was ("orphan patch module
// fix_4"), 0 or the result code, and which step failed.
struct RepairStep {
    std::string what;
    int32_t result = 0;
    std::string detail;
};

// Takes away what makes the control and state files disagree, so that the
// library refuses every call: records whose module a killed removal took
// out get their "rm" line, and orphan patch modules are removed. A step is
// added when the kernel's files were held too long to look for orphans.
std::vector<RepairStep> remove_kernel_leftovers();

// "WHAT: removed", or "WHAT: failed: CODE: MESSAGE[: DETAIL]", a line.
std::string line_of(const RepairStep &step);
std::string json_of(const RepairStep &step);

// Removes an orphan patch module: its enabled switch turned off first when
// on, and its transition waited for. 0, or the failed step's result code
// with *detail saying which step.
int32_t remove_orphan_patch(const std::string &patch, std::string *detail);

}  // namespace lkpctl

#endif
