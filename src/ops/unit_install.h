// Installation of a package's units: each module inserted and registered in
// manifest order, all of them rolled back when one fails.
#ifndef TESVAR_OPS_UNIT_INSTALL_H
#define TESVAR_OPS_UNIT_INSTALL_H

#include <cstdint>

#include "kernel/patch_list.h"

namespace tesvar {

// 0 when every unit is installed; -265 when a patch's target module is not
// loaded; -257 for any other failure (after the rollback).
int load_patch(const char *extract_dir, const char *pkg_name, list_head *units, int32_t unit_count);

}  // namespace tesvar

#endif
