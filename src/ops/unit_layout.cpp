// Finding the module file inside one unit archive, shared by unit
// installation and the offline package checker.
#include "ops/unit_layout.h"

#include <cstring>
#include <utility>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "ops/names_policy.h"
#include "sys/archive.h"
#include "sys/file_access.h"
#include "sys/names.h"
#include "sys/text_buffer.h"

namespace tesvar {
namespace {

constexpr const char *MODULE_SUFFIX = ".ko";

// The patch name is the module's file name cut at its last "."; what is cut
// off must be exactly ".ko". -257 otherwise.
int patch_name_of(const char *module_path, char (&patch_name)[NAME_SIZE]) {
    HeapText file_name(get_file_name(module_path));
    if (!file_name) {
        lkp_log(LKP_ERR, "Failed to get patch_name.");
        return LKP_INVALID_ARGUMENT;
    }
    char *dot = std::strrchr(file_name.get(), '.');
    if (dot == nullptr || std::strcmp(dot, MODULE_SUFFIX) != 0) {
        lkp_log(LKP_ERR, "Failed to get rid of postfix.");
        return LKP_INVALID_ARGUMENT;
    }
    *dot = '\0';
    // A name the control file cannot carry fails like an empty or over-long one: silently.
    if (!is_record_safe(file_name.get())) {
        return LKP_INVALID_ARGUMENT;
    }
    const int written = snprintf_s(patch_name, NAME_SIZE, NAME_SIZE - 1, "%s", file_name.get());
    return is_whole_text(written, NAME_SIZE) ? LKP_OK : LKP_INVALID_ARGUMENT;
}

}  // namespace

int locate_unit_module(const char *pkg_dir, const char *unit_archive, const char *unit_tmp_dir,
                       HeapText *module_path, char (&patch_name)[NAME_SIZE]) {
    char archive_path[PATH_BUFFER_SIZE] = {};
    const int written = snprintf_s(archive_path, sizeof(archive_path), sizeof(archive_path) - 1,
                                   "%s/%s", pkg_dir, unit_archive);
    if (!is_whole_text(written, PATH_BUFFER_SIZE)) {
        lkp_log(LKP_ERR, "Failed to snprintf for patch_name.");
        return LKP_INVALID_ARGUMENT;
    }
    if (decompress_tar_gz(archive_path, unit_tmp_dir) != 0) {
        return LKP_INVALID_ARGUMENT;
    }
    HeapText unit_dir(get_child_dir(unit_tmp_dir));
    if (!unit_dir) {
        lkp_log(LKP_ERR, "Failed to get patch tar dir.");
        return LKP_INVALID_ARGUMENT;
    }
    HeapText module(get_child_dir(unit_dir.get()));
    unit_dir.reset();
    if (!module) {
        lkp_log(LKP_ERR, "Failed to get ko_name.");
        return LKP_INVALID_ARGUMENT;
    }
    int result = patch_name_of(module.get(), patch_name);
    if (result == LKP_OK) {
        *module_path = std::move(module);
    }
    return result;
}

}  // namespace tesvar
