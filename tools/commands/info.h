// "lkpctl info PKG": what a package file holds, read offline: its manifest
// head lines and, for each unit, its module's declared details.
#ifndef LKPCTL_INFO_H
#define LKPCTL_INFO_H

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

Outcome run_info(const Invocation &inv);

}  // namespace lkpctl

#endif
