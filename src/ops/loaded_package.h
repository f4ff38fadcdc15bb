// The first steps of every operation on a loaded package: its state word,
// then its patches in control-file order.
#ifndef TESVAR_OPS_LOADED_PACKAGE_H
#define TESVAR_OPS_LOADED_PACKAGE_H

#include <cstdint>

#include "kernel/consistency.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"

namespace tesvar {

// 0 with the package's state word in state; -257 for a null name (logged)
// or kernel files that disagree; -272 when the package is not loaded. With
// `enabled` set, also counts the package's enabled patches.
int loaded_package_state(const char *pkg_name, char (&state)[STATE_SIZE],
                         EnabledCount *enabled = nullptr);

// loaded_package_state, then its patches as list_package_patches would give
// them (the same results, in the same order), taken from the same reading of
// the kernel files instead of a second one.
int loaded_package_patches(const char *pkg_name, char (&state)[STATE_SIZE],
                           const PatchList &patches, int32_t *count);

// Fills patches with the package's patches: 0 with their number in count,
// -259 when the list could not be allocated, -257 when they cannot be listed.
int list_package_patches(const char *pkg_name, const PatchList &patches, int32_t *count);

}  // namespace tesvar

#endif
