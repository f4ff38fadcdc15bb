// Taking a live patch's module out of the kernel. On an upstream kernel the
// module cannot leave while its patch is enabled, while a transition runs, or
// for a moment after its patch was disabled (the kernel frees the patch
// first): the patch is disabled when its insertion enabled it, and the
// removal waits for quiet and tries again while the kernel answers busy.
#ifndef TESVAR_OPS_PATCH_REMOVAL_H
#define TESVAR_OPS_PATCH_REMOVAL_H

#include <cstdint>

namespace tesvar {

// When the patch's enabled file reads "1": writes "0" (waiting for quiet,
// retrying busy answers). False when it was not enabled or the write was
// refused (logged as "Failed to disable <patch>, ret <code>.").
bool disable_if_enabled(const char *patch_name);

// navo_lkp_rmmod of the patch's module after waiting for quiet. A patch that
// is still enabled holds its module for good, so its busy answer is final;
// otherwise EAGAIN and EBUSY (a patch being freed) are retried within the
// call's wait bound. The last result.
int32_t remove_patch_module(const char *patch_name);

}  // namespace tesvar

#endif
