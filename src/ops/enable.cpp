// Switching every patch of a loaded package on (first to last) or off (last
// to first) through the livepatch "enabled" files, as one change under the
// kernel-files lock. A patch already switched the asked way is left alone
// (an upstream kernel refuses the same value again), and an activation that
// meets a patch the kernel has freed writes nothing.
#include "ops/enable.h"

#include <cstdint>
#include <cstring>

#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/change_lock.h"
#include "kernel/consistency.h"
#include "kernel/control_file.h"
#include "kernel/kernel_paths.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "kernel/transition_wait.h"
#include "ops/loaded_package.h"
#include "sys/file_access.h"
#include "sys/wait_budget.h"
#include "tesvar.h"

namespace tesvar {

namespace {

constexpr int MODE_ACTIVATE = 1;
constexpr int MODE_DEACTIVATE = 0;

// True (after saying so) when every patch of the package is already switched
// the way mode asks: all enabled for activation, none for deactivation. The
// last patch alone does not decide, or a half-done switch could never be
// finished (nor undone).
bool is_already_switched(const EnabledCount &count, int mode) {
    const bool activate = mode == MODE_ACTIVATE;
    if (activate ? count.enabled != count.patches : count.enabled != 0) {
        return false;
    }
    lkp_log(LKP_INFO, activate ? "The pkg has already been activated before."
                               : "The pkg has already been disactivated before.");
    return true;
}

EnabledCount count_enabled(list_head *head) {
    EnabledCount count;
    for (list_head *pos = head->next; pos != head; pos = pos->next) {
        ++count.patches;
        count.enabled += node_of(pos)->word == PatchWord::Enabled ? 1 : 0;
    }
    return count;
}

// An upstream kernel frees a patch once it is disabled: its livepatch
// directory goes, its module stays, and it can never be enabled again. -262
// (logged) when a patch of the package is gone so, before anything is written.
int check_none_freed(list_head *head) {
    for (list_head *pos = head->next; pos != head; pos = pos->next) {
        const char *patch_name = node_of(pos)->patch_name;
        if (!has_livepatch_dir(patch_name)) {
            lkp_log(LKP_ERR,
                    "The kernel freed the disabled patch %s: remove the package and load it again.",
                    patch_name);
            return LKP_OPEN_FAILED;
        }
    }
    return LKP_OK;
}

// Writes the switch of every patch the state file does not show switched
// that way already ("enabled" for activation, "disabled" for deactivation), each after the kernel
// is quiet; stops at the first failure, undoing nothing.
int switch_patches(list_head *head, int mode) {
    const bool activate = mode == MODE_ACTIVATE;
    const int op = activate ? FS_OP_ENABLE : FS_OP_DISABLE;
    for (list_head *pos = activate ? head->next : head->prev; pos != head;
         pos = activate ? pos->next : pos->prev) {
        const patch_node *patch = node_of(pos);
        if (patch->word == (activate ? PatchWord::Enabled : PatchWord::Disabled)) {
            continue;
        }
        int rc = switch_patch(op, patch->patch_name);
        if (rc != LKP_OK) {
            return rc;
        }
    }
    return LKP_OK;
}

// True when every listed patch's "enabled" file reads 1 (and the list is not
// empty).
bool every_patch_enabled(list_head *head) {
    if (head->next == head) {
        return false;
    }
    for (list_head *pos = head->next; pos != head; pos = pos->next) {
        if (!is_patch_enabled(node_of(pos)->patch_name)) {
            return false;
        }
    }
    return true;
}

// The patches whose transitions a switch of the package need not wait for:
// for a deactivation the package's own (a stalled switch of this package, a
// load or activation being undone, is reversed at once instead of after the
// whole wait bound); for an activation the same when every own patch is
// already enabled (an upstream load enables its patches itself: activating
// then changes nothing and must not wait out their stalled transition);
// otherwise none, so that a patch being freed has gone when it looks. Read
// only when the control file is there, so that its absence is logged once,
// by the switch.
list_head *patches_not_waited_for(const char *pkg_name, int mode, const PatchList &own) {
    int32_t own_count = 0;
    if (pkg_name == nullptr || own.head() == nullptr || is_file_existent(CONTROL_FILE) != 1 ||
        get_patch_list(pkg_name, own.head(), &own_count) != LKP_OK) {
        return nullptr;
    }
    if (mode == MODE_ACTIVATE && !every_patch_enabled(own.head())) {
        return nullptr;
    }
    return own.head();
}

}  // namespace

int lkp_enable(const char *pkg_name, int mode) {
    const PatchList own;
    const ChangeLock change(patches_not_waited_for(pkg_name, mode, own));
    if (change.timed_out()) {
        return LKP_CLOSE_FAILED;
    }
    char state[STATE_SIZE] = {};
    PatchList patches;
    int32_t count = 0;
    int rc = loaded_package_patches(pkg_name, state, patches, &count);
    if (rc != LKP_OK || is_already_switched(count_enabled(patches.head()), mode)) {
        return rc;
    }
    if (mode == MODE_ACTIVATE) {
        rc = check_none_freed(patches.head());
        if (rc != LKP_OK) {
            return rc;
        }
    }
    return switch_patches(patches.head(), mode);
}

namespace {

// Runs lkp_enable and closes with the operation's own success or failure line.
int switch_and_report(const char *pkg_name, int mode, const char *success, const char *failure) {
    const CallBudget budget;
    const int rc = lkp_enable(pkg_name, mode);
    if (rc == LKP_OK) {
        lkp_log(LKP_INFO, "%s", success);
    } else {
        lkp_log(LKP_ERR, "%s", failure);
    }
    return rc;
}

}  // namespace

}  // namespace tesvar

extern "C" TESVAR_API int32_t navo_lkp_activate(const char *pkg_name) {
    return tesvar::switch_and_report(pkg_name, tesvar::MODE_ACTIVATE,
                                     "LKP-ACTIVATE:Success to activate.",
                                     "LKP-ACTIVATE:Failed to activate.");
}

extern "C" TESVAR_API int32_t navo_lkp_deactivate(const char *pkg_name) {
    return tesvar::switch_and_report(pkg_name, tesvar::MODE_DEACTIVATE,
                                     "LKP-DEACTIVATE:Success to deactivate.",
                                     "LKP-DEACTIVATE:Failed to deactivate.");
}
