// The store of installed packages: what "lkpctl boot" applies after a
// reboot. One directory per kernel release under <root>/var/lib/tesvar/,
// holding the package files and the "order" file (one package name a line,
// first applied first). Every change is atomic: a reader, or the next boot
// after a power cut, sees the old store or the new one, never a mix. Every
// name is checked before use and every file reached through the store's
// directory descriptor (store_dir.h, store_names.h).
#ifndef LKPCTL_STORE_H
#define LKPCTL_STORE_H

#include <string>
#include <vector>

#include "command.h"
#include "invocation.h"
#include "order_file.h"
#include "outcome.h"
#include "step_result.h"
#include "store_dir.h"
#include "store_names.h"

namespace lkpctl {

// The store directory's path for inv: --root (default "/") and
// --kernel-release (default: the running kernel's release), for messages.
std::string store_dir(const Invocation &inv);

// The running kernel's release ("" when uname fails).
std::string running_release();

// The release whose store inv names, checked to be a plain directory name,
// and that store opened (made first with create).
StepResult open_store(const Invocation &inv, bool create, StoreDir *store);

// The store of inv opened (not made) and its order file parsed; a missing
// store or order file is no failure: no names.
StepResult open_order(const Invocation &inv, StoreDir *store, Order *order);

extern const ValueOption STORE_OPTIONS[];
extern const size_t STORE_OPTION_COUNT;
extern const ValueOption INSTALL_OPTIONS[];
extern const size_t INSTALL_OPTION_COUNT;

Outcome run_install(const Invocation &inv);
Outcome run_uninstall(const Invocation &inv);

}  // namespace lkpctl

#endif
