// "lkpctl list": every registered package with its patches and their states.
#ifndef LKPCTL_LIST_H
#define LKPCTL_LIST_H

#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_list(const Invocation &inv);

}  // namespace lkpctl

#endif
