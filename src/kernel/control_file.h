// Reading the patch manager's control file and writing op lines and enable
// switches: one open, one write, one close per text.
#ifndef TESVAR_KERNEL_CONTROL_FILE_H
#define TESVAR_KERNEL_CONTROL_FILE_H

#include <cstdint>

#include "kernel/patch_list.h"

namespace tesvar {

enum FsOp : int {
    FS_OP_ADD = 1,      // "add,num,pkg,patch" to the control file
    FS_OP_RM = 2,       // "rm,num,pkg,patch" to the control file
    FS_OP_ENABLE = 3,   // "1" to the patch's enabled file
    FS_OP_DISABLE = 4,  // "0" to the patch's enabled file
};

// Appends a node per control-file record of pkg_name, in file order; count
// is written only on success. 0, -257, -259 or -262.
int get_patch_list(const char *pkg_name, list_head *head, int32_t *count);

// Writes one op once. An "add" or "rm" line changes both kernel files: the
// caller holds the kernel-files lock exclusive around it together with the
// module call it belongs to (kernel/change_lock.h). 0, -262 (not opened),
// -269 (not written), -270 (refused at close).
int fs_op(int op, int32_t num, const char *pkg_name, const char *patch_name);

// Writes FS_OP_ENABLE or FS_OP_DISABLE to the patch's enabled file after
// waiting for quiet, and again while the kernel answers busy (EBUSY, EAGAIN),
// within the call's wait bound. fs_op's codes.
int switch_patch(int op, const char *patch_name);

}  // namespace tesvar

#endif
