// Disabling a patch before its module leaves, and the module's removal with
// the transition wait.
#include "ops/patch_removal.h"

#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/control_file.h"
#include "kernel/transition_wait.h"
#include "sys/wait_budget.h"
#include "tesvar.h"

namespace tesvar {

bool disable_if_enabled(const char *patch_name) {
    if (!is_patch_enabled(patch_name)) {
        return false;
    }
    const int rc = switch_patch(FS_OP_DISABLE, patch_name);
    if (rc != LKP_OK) {
        lkp_log(LKP_ERR, "Failed to disable %s, ret %d.", patch_name, rc);
        return false;
    }
    return true;
}

int32_t remove_patch_module(const char *patch_name) {
    Backoff backoff;
    (void)wait_until_quiet(backoff);
    if (is_patch_enabled(patch_name)) {
        return navo_lkp_rmmod(patch_name);
    }
    return retry_while_busy(patch_name, [patch_name] { return navo_lkp_rmmod(patch_name); });
}

}  // namespace tesvar
