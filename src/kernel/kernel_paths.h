// The kernel side's fixed paths.
#ifndef TESVAR_KERNEL_KERNEL_PATHS_H
#define TESVAR_KERNEL_KERNEL_PATHS_H

namespace tesvar {

constexpr const char *CONTROL_FILE = "/proc/navo_lkp_list";  // the patch manager's records
constexpr const char *STATE_FILE = "/proc/livepatch/state";  // the live-patching facility's states
constexpr const char *LIVEPATCH_DIR = "/sys/kernel/livepatch";  // one directory per patch
constexpr const char *MANAGER_MODULE_FORMAT = "/lib/modules/%s/mts/%s";
constexpr const char *MANAGER_MODULE_FILE = "tesvar.ko";
constexpr const char *TMP_DIR_TEMPLATE = "/tmp/lkp_XXXXXX";
constexpr const char *TAR_PROGRAM = "/bin/tar";
constexpr const char *RM_PROGRAM = "/bin/rm";

}  // namespace tesvar

#endif
