// Building the namespace. The real procfs cannot be overlaid, so /proc
// becomes the file server's view (links into the staged real procfs plus the
// kernel files); /sys/kernel, /dev and /usr/lib become tmpfs with links to
// their staged real entries, which keeps file identities (dynamic loading,
// device nodes) as they were.
#include "namespace_setup.h"

#include <sched.h>

#include <cerrno>
#include <cstring>

#include "fs_nodes.h"
#include "kernel_state.h"
#include "mounts.h"

namespace lkpsim {

namespace {

constexpr const char *REAL_DEV_DIR = "/run/lkpsim/realdev";
constexpr const char *REAL_SYS_KERNEL_DIR = "/run/lkpsim/realsyskernel";
constexpr const char *REAL_USR_LIB_DIR = "/run/lkpsim/realusrlib";

bool stage_real_trees(std::string *error) {
    return make_dirs(REAL_PROC_DIR, error) && make_dirs(REAL_DEV_DIR, error) &&
           make_dirs(REAL_SYS_KERNEL_DIR, error) && make_dirs(REAL_USR_LIB_DIR, error) &&
           bind_tree("/proc", REAL_PROC_DIR, error) && bind_tree("/dev", REAL_DEV_DIR, error) &&
           bind_tree("/sys/kernel", REAL_SYS_KERNEL_DIR, error) &&
           bind_tree("/usr/lib", REAL_USR_LIB_DIR, error);
}

bool mount_usr_lib(std::string *error) {
    return mount_tmpfs("/usr/lib", "0755", error) &&
           link_entries(REAL_USR_LIB_DIR, "/usr/lib", {"modules"}, error) &&
           make_dirs(manager_module_dir(), error);
}

bool mount_sys_kernel(std::string *error) {
    const std::string livepatch = "/sys/kernel/livepatch";
    return mount_tmpfs("/sys/kernel", "0755", error) &&
           link_entries(REAL_SYS_KERNEL_DIR, "/sys/kernel", {"livepatch"}, error) &&
           make_dirs(livepatch, error) &&
           bind_tree(std::string(FS_MOUNT_DIR) + "/livepatch", livepatch, error);
}

bool mount_dev(std::string *error) {
    return mount_tmpfs("/dev", "0755", error) &&
           link_entries(REAL_DEV_DIR, "/dev", {"shm", "log"}, error) &&
           make_dirs("/dev/shm", error) && mount_tmpfs("/dev/shm", "1777", error);
}

}  // namespace

bool enter_private_namespace(std::string *error) {
    if (unshare(CLONE_NEWNS) != 0) {
        *error = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    return make_private_root(error) && mount_tmpfs("/run", "0755", error) &&
           make_dirs(KERNEL_STATE_DIR, error) && make_dirs(FS_MOUNT_DIR, error) &&
           make_dirs(SCRATCH_DIR, error) && stage_real_trees(error) &&
           mount_tmpfs("/tmp", "1777", error) && mount_usr_lib(error);
}

bool mount_kernel_views(std::string *error) {
    return bind_tree(std::string(FS_MOUNT_DIR) + "/proc", "/proc", error) &&
           mount_sys_kernel(error) && mount_dev(error);
}

}  // namespace lkpsim
