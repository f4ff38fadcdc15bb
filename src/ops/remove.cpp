// Removal of a loaded package: each patch, newest first, leaves the kernel
// and then the control file, the two as one change under the kernel-files
// lock.
#include <cerrno>

#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/control_file.h"
#include "kernel/change_lock.h"
#include "kernel/kernel_paths.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "ops/loaded_package.h"
#include "ops/patch_removal.h"
#include "sys/wait_budget.h"
#include "tesvar.h"

namespace tesvar {

namespace {

constexpr int32_t MODULE_ABSENT = -ENOENT;

// Removes one patch's module and writes its "rm" line. A module that is
// already gone only lacks its line.
int remove_patch(const char *pkg_name, int32_t count, const char *patch_name) {
    const ChangeLock change;
    if (change.timed_out()) {
        return -EAGAIN;
    }
    int32_t removed = remove_patch_module(patch_name);
    if (removed != 0 && removed != MODULE_ABSENT) {
        return removed;
    }
    int rc = fs_op(FS_OP_RM, count, pkg_name, patch_name);
    if (rc != LKP_OK) {
        lkp_log(LKP_ERR, "Failed to write to %s.", CONTROL_FILE);
    }
    return rc;
}

int remove_package(const char *pkg_name) {
    char state[STATE_SIZE] = {};
    PatchList patches;
    int32_t count = 0;
    int rc = loaded_package_patches(pkg_name, state, patches, &count);
    if (rc != LKP_OK) {
        return rc;
    }
    list_head *head = patches.head();
    for (list_head *pos = head->prev; pos != head; pos = pos->prev) {
        rc = remove_patch(pkg_name, count, node_of(pos)->patch_name);
        if (rc != LKP_OK) {
            return rc;
        }
    }
    return LKP_OK;
}

}  // namespace

}  // namespace tesvar

extern "C" TESVAR_API int32_t navo_lkp_remove(const char *pkg_name) {
    const tesvar::CallBudget budget;
    int rc = tesvar::remove_package(pkg_name);
    if (rc == tesvar::LKP_OK) {
        tesvar::lkp_log(tesvar::LKP_INFO, "LKP-REMOVE:Success to remove the %s", pkg_name);
    } else {
        tesvar::lkp_log(tesvar::LKP_ERR, "LKP-REMOVE:Failed to remove.");
    }
    return rc;
}
