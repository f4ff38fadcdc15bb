// "lkpctl pack": builds a package file from patch module files.
#ifndef LKPCTL_PACK_H
#define LKPCTL_PACK_H

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

extern const ValueOption PACK_OPTIONS[];
extern const size_t PACK_OPTION_COUNT;

Outcome run_pack(const Invocation &inv);

}  // namespace lkpctl

#endif
