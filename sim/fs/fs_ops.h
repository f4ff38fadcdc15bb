// The low-level FUSE operations of the file server. The session's user data
// is its FsState.
#ifndef LKPSIM_FS_OPS_H
#define LKPSIM_FS_OPS_H

#define FUSE_USE_VERSION 35
#include <fuse_lowlevel.h>

namespace lkpsim {

const fuse_lowlevel_ops &fs_operations();

}  // namespace lkpsim

#endif
