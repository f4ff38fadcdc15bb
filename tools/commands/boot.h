// "lkpctl boot": loads and activates every installed package of the
// running kernel release, in the store's order.
#ifndef LKPCTL_BOOT_H
#define LKPCTL_BOOT_H

#include <string>

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

extern const ValueOption BOOT_OPTIONS[];
extern const size_t BOOT_OPTION_COUNT;

// The state word the kernel gives package name now ("enabled", "disabled",
// "unknown" when not loaded, "invalid" when the record files disagree).
std::string package_state(const std::string &name);

Outcome run_boot(const Invocation &inv);

}  // namespace lkpctl

#endif
