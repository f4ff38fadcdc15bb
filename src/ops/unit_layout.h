// The inner layout of one unit archive: one unit directory holding one
// module file whose name, without ".ko", is the patch name.
#ifndef TESVAR_OPS_UNIT_LAYOUT_H
#define TESVAR_OPS_UNIT_LAYOUT_H

#include "kernel/record.h"
#include "sys/owned.h"

namespace tesvar {

// Extracts pkg_dir/unit_archive into unit_tmp_dir and finds its module file.
// On success returns 0 with the module's path in module_path and the patch
// name (1 to 63 characters the control file can carry) in patch_name.
// Otherwise returns -257, with the log lines unit installation gives.
int locate_unit_module(const char *pkg_dir, const char *unit_archive, const char *unit_tmp_dir,
                       HeapText *module_path, char (&patch_name)[NAME_SIZE]);

}  // namespace tesvar

#endif
