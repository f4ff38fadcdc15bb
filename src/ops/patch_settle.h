// Taking a live patch out on a kernel where inserting its module enables it:
// there the module cannot leave while the patch is enabled or its disabling
// transition runs, so it is disabled first, waited for, and only then removed.
// On a kernel where inserted patches start disabled none of this writes or
// waits.
#ifndef TESVAR_OPS_PATCH_SETTLE_H
#define TESVAR_OPS_PATCH_SETTLE_H

#include <cstdint>

namespace tesvar {

// True when the patch's livepatch "enabled" file reads "1". Logs nothing.
bool is_patch_enabled(const char *patch_name);

// Waits, bounded, until a patch being disabled has settled: its livepatch
// directory gone and its module no longer held by it, or its enabled file
// reading "0" with no transition in progress. False after the time limit.
bool wait_patch_settled(const char *patch_name);

// Waits for every patch the control file lists for the package to settle.
void wait_package_settled(const char *pkg_name);

// When the patch is enabled: writes "0" to its enabled file and waits for it
// to settle. True when this call disabled it; a refused write is logged.
bool disable_if_enabled(const char *patch_name);

// navo_lkp_rmmod of a patch this call has just disabled: a refusal because
// the kernel still holds the module (EAGAIN, EBUSY) is retried for a short
// while. The last result.
int32_t remove_disabled_module(const char *patch_name);

}  // namespace tesvar

#endif
