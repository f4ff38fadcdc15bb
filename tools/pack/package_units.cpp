// Reading a package's units from its manifest and its modules, each unit
// extracted into a temporary directory of its own.
#include "package_units.h"

#include <cstring>
#include <fstream>

#include "kernel/record.h"
#include "ops/unit_layout.h"
#include "sys/archive.h"
#include "sys/elf_modinfo.h"
#include "sys/names.h"
#include "sys/owned.h"
#include "sys/tmp_dir.h"

namespace lkpctl {
namespace {

constexpr const char *TARGET_KEY = "lkp_target=";

// Every "lkp_target=" value of the module's .modinfo section.
std::vector<std::string> declared_targets(const tesvar::ElfModinfo &modinfo) {
    std::vector<std::string> targets;
    const size_t key_length = std::strlen(TARGET_KEY);
    size_t at = 0;
    while (modinfo.has_modinfo && at < modinfo.modinfo_size) {
        const char *entry = modinfo.modinfo + at;
        const size_t length = strnlen(entry, modinfo.modinfo_size - at);
        if (length > key_length && std::strncmp(entry, TARGET_KEY, key_length) == 0) {
            targets.emplace_back(entry + key_length, length - key_length);
        }
        at += length + 1;
    }
    return targets;
}

PackageUnit read_unit(const char *package_dir, const std::string &archive) {
    PackageUnit unit;
    unit.archive = archive;
    (void)with_unit_module(
        package_dir, archive,
        [&unit](const char *patch, const char *, const tesvar::MappedModule &image) {
            unit.patch = patch;
            if (image.valid()) {
                unit.targets =
                    declared_targets(tesvar::read_elf_modinfo(image.data(), image.size()));
            }
        });
    return unit;
}

}  // namespace

bool visit_manifest(const std::string &path, const ManifestVisit &visit, size_t *lines) {
    *lines = 0;
    tesvar::TmpDir extract_dir;
    if (!extract_dir || tesvar::decompress_tar_gz(path.c_str(), extract_dir.path()) != 0) {
        return false;
    }
    const tesvar::HeapText package_dir(tesvar::get_child_dir(extract_dir.path()));
    if (!package_dir) {
        return false;
    }
    std::ifstream content(std::string(package_dir.get()) + "/content");
    for (std::string line; std::getline(content, line); ++*lines) {
        if (!visit(package_dir.get(), *lines, line)) {
            return false;
        }
    }
    return true;
}

bool with_unit_module(const char *package_dir, const std::string &archive,
                      const UnitModuleUse &use) {
    tesvar::TmpDir unit_dir;
    tesvar::HeapText module_path;
    char patch[tesvar::NAME_SIZE] = {};
    if (!unit_dir || tesvar::locate_unit_module(package_dir, archive.c_str(), unit_dir.path(),
                                                &module_path, patch) != 0) {
        return false;
    }
    const tesvar::MappedModule image(module_path.get(), tesvar::MAX_EXTRACTED_FILE_SIZE);
    use(patch, module_path.get(), image);
    return true;
}

bool read_package_units(const std::string &path, std::vector<PackageUnit> *units) {
    size_t lines = 0;
    const bool read = visit_manifest(
        path,
        [units](const char *package_dir, size_t line_number, const std::string &line) {
            if (line_number >= MANIFEST_HEAD_LINES && !line.empty()) {
                units->push_back(read_unit(package_dir, line));
            }
            return true;
        },
        &lines);
    return read && lines > MANIFEST_HEAD_LINES;
}

}  // namespace lkpctl
