// A package whose disabled patches the kernel has freed (upstream kernels do
// that to every disabled patch: its directory under /sys/kernel/livepatch
// goes, the module stays, and it can never be enabled again). activate and
// boot bring such a package back by removing it and loading the operators'
// store copy again.
#ifndef LKPCTL_FREED_PACKAGE_H
#define LKPCTL_FREED_PACKAGE_H

#include <cstdint>
#include <string>

#include "invocation.h"

namespace lkpctl {

// True when a patch of the loaded package has no livepatch directory.
bool has_freed_patch(const std::string &package);

// True when the loaded package has patches and the kernel shows every one
// of them switched the asked way ("enabled" reading 1, or 0 or freed for
// off): a switch then changes nothing, and a cancelled command has nothing to
// take back.
bool is_switched_already(const std::string &package, bool on);

// True when the store of inv (the same store boot applies) holds a copy of
// package that reload_freed can load.
bool has_store_copy(const Invocation &inv, const std::string &package);

// What became of a freed package.
struct Reloaded {
    int32_t result = 0;  // 0, or the removal's or the load's result code
    std::string detail;  // one line for the report
};

// Removes the package and loads its copy from the store of inv (the same
// store boot applies); without a store copy, nothing is done and the detail
// says what to run. The load itself waits for the kernel between patches.
Reloaded reload_freed(const Invocation &inv, const std::string &package);

// Undoes a removal an operator cancelled: loads package again from the
// store of inv and switches it as it was (active or not). Says what was done.
std::string load_back(const Invocation &inv, const std::string &package, bool active);

}  // namespace lkpctl

#endif
