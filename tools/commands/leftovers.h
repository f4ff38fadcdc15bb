// Leftovers of a crash: what a load or removal killed half-way can leave,
// found from the kernel's files and /tmp alone.
//   - an orphan patch: a live patch module in the kernel (a directory under
//     /sys/kernel/livepatch, or a line of the state file) that the control
//     file does not name: killed between the module's insertion and its
//     "add" line;
//   - a record without its module: a removal killed between a module's
//     removal and its "rm" line;
//   - a partial package: fewer registered patches than the unit count its
//     records carry (the first field of each record, from its "add" line);
//   - a stale temporary directory: a /tmp/lkp_* directory whose maker is
//     gone (its lock is free).
#ifndef LKPCTL_LEFTOVERS_H
#define LKPCTL_LEFTOVERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "record_files.h"

namespace lkpctl {

struct PartialPackage {
    std::string name;
    size_t registered = 0;  // patches the control file names for it
    int32_t units = 0;      // the unit count its records carry
    std::vector<std::string> patches;
};

// The orphan patches. *locked_out (when given) says that another caller of
// the library held the kernel's files past the wait bound, so that none
// could be looked for: an empty list then is not "none".
std::vector<std::string> find_orphan_patches(bool *locked_out = nullptr);
std::vector<PartialPackage> find_partial_packages();
// Control-file records whose patch module is no longer in the kernel.
std::vector<ControlRecord> find_records_without_module();
// The /tmp/lkp_* directories whose maker is gone; with remove, each is
// removed as it is found (check afterwards which are gone).
std::vector<std::string> find_stale_tmp_dirs(bool remove = false);

struct Leftovers {
    std::vector<std::string> orphan_patches;
    std::vector<PartialPackage> partial_packages;
    std::vector<std::string> stale_tmp_dirs;

    bool empty() const {
        return orphan_patches.empty() && partial_packages.empty() && stale_tmp_dirs.empty();
    }
};

Leftovers find_leftovers();

// One text line per leftover ("  orphan patch module fix_4: ...").
std::string leftovers_text(const Leftovers &leftovers);
// {"orphan_patches":[...],"partial_packages":[{"name":..,"registered":..,
// "units":..}],"stale_tmp_dirs":[...]}
std::string leftovers_json(const Leftovers &leftovers);

}  // namespace lkpctl

#endif
