// Loading a patch package file, and the trial load that removes it again.
#include <cstring>

#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/consistency.h"
#include "kernel/kernel_paths.h"
#include "kernel/modules.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "ops/names_policy.h"
#include "ops/package_check.h"
#include "ops/unit_install.h"
#include "sys/archive.h"
#include "sys/file_access.h"
#include "sys/names.h"
#include "sys/owned.h"
#include "sys/tmp_dir.h"
#include "sys/wait_budget.h"
#include "tesvar.h"

namespace tesvar {

namespace {

void log_preload_failure() {
    lkp_log(LKP_ERR, "LKP-PRELOAD: Failed to preload.");
    lkp_log(LKP_ERR, "LKP-LOAD:Failed to preload.");
}

// The package file exists and the kernel can take and manage live patches.
int check_preload(const char *pkg_path) {
    if (pkg_path == nullptr || is_file_existent(pkg_path) == 0) {
        lkp_log(LKP_ERR, "LKP-PRELOAD: The the file of pkg is missing.");
        log_preload_failure();
        return LKP_FILE_MISSING;
    }
    if (is_file_existent(STATE_FILE) == 0) {
        lkp_log(LKP_ERR, "check_livepatch_env: The kernel do not support livepatch.");
        log_preload_failure();
        return LKP_NO_LIVEPATCH;
    }
    if (load_tesvar_kcore() == 0) {
        lkp_log(LKP_ERR, "check_livepatch_env: The kernel has not been prepare for manege LKP.");
        log_preload_failure();
        return LKP_NO_LIVEPATCH;
    }
    return LKP_OK;
}

// A package name the control file can carry as a record key.
bool is_storable_pkg_name(const char *pkg_name) {
    return std::strlen(pkg_name) <= NAME_SIZE - 1 && is_record_safe(pkg_name);
}

// 0 when the package is not loaded yet; logs why the records cannot tell.
int check_not_loaded(const char *pkg_name) {
    char state[STATE_SIZE] = {};
    if (check_record_available(pkg_name, state) != 0) {
        lkp_log(LKP_ERR, "LKP-LOAD:The record is not available.");
        return LKP_INVALID_ARGUMENT;
    }
    if (std::strncmp(state, STATE_UNKNOWN, STATE_SIZE) != 0) {
        return LKP_ALREADY_LOADED;
    }
    return LKP_OK;
}

// Extracts the package, checks it and installs its units. Everything it made
// (path copy, extraction directory, unit list) is released before it returns.
int extract_and_install(const char *pkg_path, const char *pkg_name) {
    // tar is given a private copy of the caller's path.
    HeapText path_copy(strdup(pkg_path));
    if (!path_copy) {
        lkp_log(LKP_ERR, "Failed to strdup.");
        return LKP_INVALID_ARGUMENT;
    }
    TmpDir extract_dir;
    if (!extract_dir) {
        return LKP_INVALID_ARGUMENT;
    }
    int rc = decompress_tar_gz(path_copy.get(), extract_dir.path());
    if (rc != 0) {
        return rc;
    }
    PatchList units;
    if (!units) {
        lkp_log(LKP_ERR, "Failed to malloc for list head.");
        return LKP_MALLOC_FAILED;
    }
    int32_t unit_count = 0;
    if (check_pkg_available(extract_dir.path(), units.head(), &unit_count) != 0) {
        return LKP_INVALID_ARGUMENT;
    }
    return load_patch(extract_dir.path(), pkg_name, units.head(), unit_count);
}

int load_package(const char *pkg_path, const char *pkg_name) {
    // What a killed load left in /tmp goes first (on a device /tmp is RAM).
    (void)visit_stale_tmp_dirs(true, nullptr, nullptr);
    int rc = check_not_loaded(pkg_name);
    if (rc != LKP_OK) {
        return rc;
    }
    rc = extract_and_install(pkg_path, pkg_name);
    if (rc == LKP_OK) {
        lkp_log(LKP_INFO, "LKP-LOAD:Success to load.");
    } else {
        lkp_log(LKP_ERR, "LKP-LOAD:Failed to load.");
    }
    return rc;
}

constexpr int32_t STATE_NUMBER_ENABLED = 5;

// A kernel whose insertion enables a live patch makes the trial load live,
// and will not remove it so: switch it off first (the removal then waits
// for the kernel to let go of each module).
void switch_off_trial(const char *pkg_name) {
    if (navo_lkp_state(pkg_name) == STATE_NUMBER_ENABLED) {
        (void)navo_lkp_deactivate(pkg_name);
    }
}

}  // namespace

}  // namespace tesvar

using tesvar::HeapText;

extern "C" TESVAR_API int32_t navo_lkp_load(const char *pkg_path) {
    const tesvar::CallBudget budget;
    int rc = tesvar::check_preload(pkg_path);
    if (rc != tesvar::LKP_OK) {
        return rc;
    }
    HeapText pkg_name(tesvar::get_file_name(pkg_path));
    if (!pkg_name || !tesvar::is_storable_pkg_name(pkg_name.get())) {
        tesvar::lkp_log(tesvar::LKP_ERR, "LKP-LOAD:Failed to get pkg name.");
        return tesvar::LKP_INVALID_ARGUMENT;
    }
    return tesvar::load_package(pkg_path, pkg_name.get());
}

// Calls navo_lkp_load, navo_lkp_state, navo_lkp_deactivate and
// navo_lkp_remove through their exported names.
extern "C" TESVAR_API int32_t navo_lkp_preload(const char *pkg_path) {
    // One bound for the whole trial, shared by the calls it makes.
    const tesvar::CallBudget budget;
    HeapText pkg_name(pkg_path != nullptr ? tesvar::get_file_name(pkg_path) : nullptr);
    if (!pkg_name) {
        tesvar::lkp_log(tesvar::LKP_ERR, "LKP-LOAD:Failed to get pkg name.");
        return tesvar::LKP_INVALID_ARGUMENT;
    }
    int32_t rc = navo_lkp_load(pkg_path);
    if (rc == tesvar::LKP_OK) {
        tesvar::switch_off_trial(pkg_name.get());
        return navo_lkp_remove(pkg_name.get());
    }
    // Already loaded: it would load, and nothing is to be undone.
    return rc == tesvar::LKP_ALREADY_LOADED ? tesvar::LKP_OK : rc;
}

extern "C" TESVAR_API __attribute__((weak)) int32_t navo_lkp_validate(const char *pkg_path) {
    return navo_lkp_preload(pkg_path);
}
