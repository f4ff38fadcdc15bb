// "lkpctl status": the kernel's live-patching support, the patch manager,
// the loaded packages and the installed ones side by side.
#ifndef LKPCTL_STATUS_H
#define LKPCTL_STATUS_H

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_status(const Invocation &inv);

}  // namespace lkpctl

#endif
