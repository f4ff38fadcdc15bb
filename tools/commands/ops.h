// Subcommands that call one exported operation of libtesvar each.
#ifndef LKPCTL_OPS_H
#define LKPCTL_OPS_H

#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_load(const Invocation &inv);
Outcome run_preload(const Invocation &inv);
Outcome run_validate(const Invocation &inv);
Outcome run_activate(const Invocation &inv);
Outcome run_deactivate(const Invocation &inv);
Outcome run_state(const Invocation &inv);
Outcome run_remove(const Invocation &inv);
Outcome run_owner(const Invocation &inv);
Outcome run_insmod(const Invocation &inv);
Outcome run_rmmod(const Invocation &inv);
Outcome run_strerror(const Invocation &inv);

}  // namespace lkpctl

#endif
