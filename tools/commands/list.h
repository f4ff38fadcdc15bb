// "lkpctl list": every registered package with its patches and their states.
#ifndef LKPCTL_LIST_H
#define LKPCTL_LIST_H

#include <cstdint>
#include <string>
#include <vector>

#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

struct PatchView {
    std::string name;
    std::string state;
};

struct PackageView {
    std::string name;
    std::vector<PatchView> patches;  // control-file order; the last one gives the package's state
    int32_t units = 0;               // the unit count its records carry

    // Fewer patches registered than the package has units: a load that was
    // cut off (a killed process, a lost rollback) left the rest out.
    bool partial() const { return units > 0 && patches.size() < static_cast<size_t>(units); }
    // "2 of 3 patches"
    std::string count_text() const;
};

// " (enabled)", or " (enabled, partially loaded: 2 of 3 patches)".
std::string package_label(const PackageView &package);

// The registered packages in order of registration; 0, or the result code
// of reading the control and state files.
int32_t loaded_packages(std::vector<PackageView> *packages);
// The same read without the consistency check, for files that disagree
// (what a killed load or removal left): each patch with its state file's
// word, "unknown" when the file has no line for it. 0, or the result code
// of reading the control file.
int32_t registered_packages_as_they_are(std::vector<PackageView> *packages);

// The packages as the "packages" JSON array of list and status.
std::string packages_json(const std::vector<PackageView> &packages);

Outcome run_list(const Invocation &inv);

}  // namespace lkpctl

#endif
