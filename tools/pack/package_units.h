// A package file's units as its manifest lists them, read offline: what a
// loaded package is compared with, and what a failed load's explanation
// names.
#ifndef LKPCTL_PACKAGE_UNITS_H
#define LKPCTL_PACKAGE_UNITS_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "sys/elf_modinfo.h"

namespace lkpctl {

// The manifest's head lines: version, description, date, unit count; the
// unit archives' names follow, one a line.
constexpr size_t MANIFEST_HEAD_LINES = 4;

// Extracts the package file at path into a private temporary directory and
// hands visit each line of its manifest ("content") with its number and the
// package's extracted directory, until visit answers false. *lines is the
// number of lines read. False when the file cannot be extracted, holds no
// package directory, or visit stopped.
using ManifestVisit =
    std::function<bool(const char *package_dir, size_t line_number, const std::string &line)>;
bool visit_manifest(const std::string &path, const ManifestVisit &visit, size_t *lines);

// Extracts the unit archive of the extracted package_dir into a temporary
// directory of its own, finds its module and maps it (at most the size an
// extraction allows), and hands use the patch name, the module file's path
// and its image (not valid() when it could not be mapped). False when the
// unit's module cannot be found.
using UnitModuleUse =
    std::function<void(const char *patch, const char *module_path, const tesvar::MappedModule &)>;
bool with_unit_module(const char *package_dir, const std::string &archive,
                      const UnitModuleUse &use);

struct PackageUnit {
    std::string archive;               // "fix_1.tar.gz", the manifest's line
    std::string patch;                 // the patch name its module gives, "" when unreadable
    std::vector<std::string> targets;  // the modules it declares it patches (lkp_target=)
};

// The units of the package file at path, in manifest order; false when the
// file cannot be extracted or has no manifest (the check says why).
bool read_package_units(const std::string &path, std::vector<PackageUnit> *units);

}  // namespace lkpctl

#endif
