// Installation of a package's units, all or nothing: each unit archive is
// extracted into a directory of its own, its module inserted and then
// registered with an "add" line; a failing unit rolls the others back. Each
// insertion with its line, and each removal with its line, is one change
// under the kernel-files lock, taken once the kernel is quiet.
#include "ops/unit_install.h"

#include <cerrno>

#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/control_file.h"
#include "kernel/kernel_paths.h"
#include "kernel/modules.h"
#include "kernel/change_lock.h"
#include "kernel/transition_wait.h"
#include "ops/patch_removal.h"
#include "ops/unit_layout.h"
#include "sys/names.h"
#include "sys/owned.h"
#include "sys/tmp_dir.h"
#include "tesvar.h"

namespace tesvar {

namespace {

// The units installed by this call, newest last; their nodes are freed on
// every path, their modules stay in the kernel unless rolled back.
class InstalledList {
public:
    InstalledList() noexcept { INIT_LIST_HEAD(&head_); }
    InstalledList(const InstalledList &) = delete;
    InstalledList &operator=(const InstalledList &) = delete;
    ~InstalledList() { del_patch_list(&head_); }

    list_head *head() noexcept { return &head_; }

private:
    list_head head_;
};

// What every unit of the call shares.
struct UnitContext {
    const char *pkg_dir;
    const char *pkg_name;
    int32_t unit_count;
    list_head *installed;
};

// Takes a patch's module out of the kernel again; a failure is only logged.
// A patch that its insertion enabled holds its module until it is disabled.
void remove_module(const char *patch_name) {
    (void)disable_if_enabled(patch_name);
    const int removed = remove_patch_module(patch_name);
    if (removed != 0) {
        lkp_log(LKP_ERR, "Failed lkp rmmod, ret %d.", removed);
    }
}

// Inserts the module and registers it; a module that cannot be registered is
// taken out again at once.
int insert_and_register(const UnitContext &unit, const char *module_path, const char *patch_name) {
    const ChangeLock change;
    int rc = change.timed_out()
                 ? -EAGAIN
                 : retry_while_busy(patch_name, [module_path] { return navo_lkp_insmod(module_path); });
    if (rc == ENOPKG_CODE) {
        lkp_log(LKP_ERR, "The target %s not loaded", module_path);
        return LKP_TARGET_NOT_LOADED;
    }
    if (rc != 0) {
        lkp_log(LKP_ERR, "Failed to insmod %s", module_path);
        return LKP_INVALID_ARGUMENT;
    }
    if (fs_op(FS_OP_ADD, unit.unit_count, unit.pkg_name, patch_name) != LKP_OK) {
        remove_module(patch_name);
        lkp_log(LKP_ERR, "Failed to write to %s.", CONTROL_FILE);
        return LKP_INVALID_ARGUMENT;
    }
    return LKP_OK;
}

// One unit, from its archive name to an installed module. Its temporary
// directory is removed when the unit is done, whatever the outcome.
int install_unit(const UnitContext &unit, const char *archive_name) {
    TmpDir unit_tmp;
    if (!unit_tmp) {
        return LKP_INVALID_ARGUMENT;
    }
    HeapText module_path;
    char patch_name[NAME_SIZE] = {};
    int rc =
        locate_unit_module(unit.pkg_dir, archive_name, unit_tmp.path(), &module_path, patch_name);
    if (rc != LKP_OK) {
        return rc;
    }
    HeapPtr<patch_node> node(create_patch_node(patch_name));
    if (!node) {
        return LKP_INVALID_ARGUMENT;
    }
    rc = insert_and_register(unit, module_path.get(), patch_name);
    if (rc == LKP_OK) {
        list_add_tail(&node.release()->list, unit.installed);
    }
    return rc;
}

// Takes the installed units out again, newest first; failures are only logged.
void roll_back(const UnitContext &unit) {
    list_head *head = unit.installed;
    for (list_head *pos = head->prev; pos != head; pos = pos->prev) {
        const char *patch_name = node_of(pos)->patch_name;
        // With the call's bound spent the lock is tried once; the rollback
        // goes on without it rather than leave modules behind.
        const ChangeLock change;
        remove_module(patch_name);
        if (fs_op(FS_OP_RM, unit.unit_count, unit.pkg_name, patch_name) != LKP_OK) {
            lkp_log(LKP_ERR, "Failed rm op, pkg %s, patch %s.", unit.pkg_name, patch_name);
        }
    }
}

}  // namespace

int load_patch(const char *extract_dir, const char *pkg_name, list_head *units,
               int32_t unit_count) {
    InstalledList installed;
    HeapText pkg_dir(get_child_dir(extract_dir));
    if (!pkg_dir) {
        lkp_log(LKP_ERR, "Failed to get child dir.");
        return LKP_INVALID_ARGUMENT;
    }
    const UnitContext unit{pkg_dir.get(), pkg_name, unit_count, installed.head()};
    for (list_head *pos = units->next; pos != units; pos = pos->next) {
        int rc = install_unit(unit, node_of(pos)->patch_name);
        if (rc != LKP_OK) {
            roll_back(unit);
            return rc;
        }
    }
    return LKP_OK;
}

}  // namespace tesvar
