// A package file's units as its manifest lists them, read offline: what a
// loaded package is compared with, and what a failed load's explanation
// names.
#ifndef LKPCTL_PACKAGE_UNITS_H
#define LKPCTL_PACKAGE_UNITS_H

#include <string>
#include <vector>

namespace lkpctl {

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
