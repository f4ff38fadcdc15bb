// The state word and the patch list of a loaded package, shared by
// activation, deactivation and removal.
#include "ops/loaded_package.h"

#include <cstring>

#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/consistency.h"
#include "kernel/control_file.h"

namespace tesvar {

int loaded_package_state(const char *pkg_name, char (&state)[STATE_SIZE], EnabledCount *enabled) {
    if (pkg_name == nullptr) {
        lkp_log(LKP_ERR, "The input parameter is NULL.");
        return LKP_INVALID_ARGUMENT;
    }
    if (check_record_available(pkg_name, state, enabled) != 0) {
        return LKP_INVALID_ARGUMENT;
    }
    // A package whose last patch the state file does not name is not loaded.
    return std::strncmp(state, STATE_UNKNOWN, STATE_SIZE) == 0 ? LKP_NO_PATCHES : LKP_OK;
}

int loaded_package_patches(const char *pkg_name, char (&state)[STATE_SIZE],
                           const PatchList &patches, int32_t *count) {
    if (pkg_name == nullptr) {
        lkp_log(LKP_ERR, "The input parameter is NULL.");
        return LKP_INVALID_ARGUMENT;
    }
    EnabledCount counted;
    bool listed = false;
    if (check_record_available(pkg_name, state, &counted, patches ? patches.head() : nullptr,
                               &listed) != 0) {
        return LKP_INVALID_ARGUMENT;
    }
    if (std::strncmp(state, STATE_UNKNOWN, STATE_SIZE) == 0) {
        return LKP_NO_PATCHES;
    }
    if (!patches) {
        return LKP_MALLOC_FAILED;
    }
    if (!listed) {
        return LKP_INVALID_ARGUMENT;
    }
    *count = counted.patches;
    return LKP_OK;
}

int list_package_patches(const char *pkg_name, const PatchList &patches, int32_t *count) {
    if (!patches) {
        return LKP_MALLOC_FAILED;
    }
    return get_patch_list(pkg_name, patches.head(), count) == LKP_OK ? LKP_OK
                                                                     : LKP_INVALID_ARGUMENT;
}

}  // namespace tesvar
