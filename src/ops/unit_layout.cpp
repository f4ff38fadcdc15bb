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
#include "sys/elf_modinfo.h"
#include "sys/file_access.h"
#include "sys/names.h"
#include "sys/text_buffer.h"

namespace tesvar {
namespace {

constexpr const char *MODULE_SUFFIX = ".ko";
constexpr int MAX_LOGGED_NAME = 255;

// A name the module tools would cut or mangle: a "." (they cut module names
// at the first one) or a control character.
bool has_cut_character(const char *name) {
    for (const char *at = name; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte == '.' || byte < 0x20 || byte == 0x7f) {
            return true;
        }
    }
    return false;
}

// The kernel names a module after its file with every "-" made "_".
void to_kernel_name(char *name) {
    for (char *at = name; *at != '\0'; ++at) {
        if (*at == '-') {
            *at = '_';
        }
    }
}

// An ELF module that declares its own name must declare the patch name;
// images that are not ELF or declare none are left to the kernel.
int check_declared_name(const char *module_path, const char *file_name, const char *patch_name) {
    const MappedModule image(module_path, static_cast<size_t>(MAX_EXTRACTED_FILE_SIZE));
    if (!image.valid()) {
        return LKP_OK;
    }
    const ElfModinfo info = read_elf_modinfo(image.data(), image.size());
    const char *declared = nullptr;
    size_t length = 0;
    if (!find_modinfo_value(info, "name", &declared, &length)) {
        return LKP_OK;
    }
    if (length == std::strlen(patch_name) && std::memcmp(declared, patch_name, length) == 0) {
        return LKP_OK;
    }
    const int shown = length > MAX_LOGGED_NAME ? MAX_LOGGED_NAME : static_cast<int>(length);
    lkp_log(LKP_ERR, "load_patch: The module %s is named %.*s.", file_name, shown, declared);
    return LKP_INVALID_ARGUMENT;
}

// The patch name is the module's file name cut at its last "."; what is cut
// off must be exactly ".ko", and it is stored as the kernel names the module.
// -257 otherwise.
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
    // A name the control file cannot carry, or the module tools would cut,
    // fails like an empty or over-long one: silently.
    if (!is_record_safe(file_name.get()) || has_cut_character(file_name.get())) {
        return LKP_INVALID_ARGUMENT;
    }
    const int written = snprintf_s(patch_name, NAME_SIZE, NAME_SIZE - 1, "%s", file_name.get());
    if (!is_whole_text(written, NAME_SIZE)) {
        return LKP_INVALID_ARGUMENT;
    }
    to_kernel_name(patch_name);
    *dot = '.';
    return check_declared_name(module_path, file_name.get(), patch_name);
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
