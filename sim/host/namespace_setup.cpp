// Building the namespace. The real procfs cannot be overlaid, so /proc
// becomes the file server's view (links into the staged real procfs plus the
// kernel files); /sys/kernel, /dev and /usr/lib become tmpfs with links to
// their staged real entries, which keeps file identities (dynamic loading,
// device nodes) as they were. The private /tmp would hide a build tree or a
// package under the host's /tmp, so each such path this process runs from,
// has loaded or names on its command line keeps its top directory there,
// bound from the host's /tmp.
#include "namespace_setup.h"

#include <limits.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "fs_nodes.h"
#include "kernel_state.h"
#include "mounts.h"

namespace lkpsim {

namespace {

constexpr const char *REAL_DEV_DIR = "/run/lkpsim/realdev";
constexpr const char *REAL_SYS_KERNEL_DIR = "/run/lkpsim/realsyskernel";
constexpr const char *REAL_USR_LIB_DIR = "/run/lkpsim/realusrlib";
constexpr const char *REAL_TMP_DIR = "/run/lkpsim/realtmp";

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

// "/tmp/a" for "/tmp/a/b/c"; "" for a path outside /tmp or /tmp itself.
std::string top_under_tmp(const std::string &path) {
    const std::string tmp = "/tmp/";
    if (path.compare(0, tmp.size(), tmp) != 0 || path.size() == tmp.size()) {
        return "";
    }
    return path.substr(0, path.find('/', tmp.size()));
}

// The host's /tmp entries this process needs: those holding its executable,
// the shared objects it has loaded (libtesvar.so of a build tree elsewhere),
// the preload library of programs it runs, its working directory and every
// absolute path on its command line.
std::set<std::string> tmp_entries_in_use() {
    std::set<std::string> tops{top_under_tmp(LKPSIM_PRELOAD_PATH)};
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const size_t path = line.find('/');
        if (path != std::string::npos) {
            tops.insert(top_under_tmp(line.substr(path)));
        }
    }
    char buffer[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length > 0) {
        tops.insert(top_under_tmp(std::string(buffer, static_cast<size_t>(length))));
    }
    if (getcwd(buffer, sizeof buffer) != nullptr) {
        tops.insert(top_under_tmp(buffer));
    }
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    const std::string words((std::istreambuf_iterator<char>(cmdline)),
                            std::istreambuf_iterator<char>());
    for (size_t at = 0; at < words.size();) {
        const size_t end = words.find('\0', at);
        tops.insert(top_under_tmp(words.substr(at, end - at)));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    tops.erase("");
    return tops;
}

// Binds the host's /tmp entry `top` (a directory or a file) at the same
// place in the private /tmp; an entry that does not exist is skipped.
bool keep_tmp_entry(const std::string &top, std::string *error) {
    const std::string real = REAL_TMP_DIR + top.substr(std::strlen("/tmp"));
    struct stat status {};
    if (stat(real.c_str(), &status) != 0) {
        return true;
    }
    if (S_ISDIR(status.st_mode)) {
        if (!make_dirs(top, error)) {
            return false;
        }
    } else {
        std::ofstream placeholder(top);
        if (!placeholder) {
            *error = "cannot create " + top;
            return false;
        }
    }
    return bind_tree(real, top, error);
}

// A fresh /tmp in which the host's entries in use stay reachable.
bool mount_private_tmp(std::string *error) {
    if (!make_dirs(REAL_TMP_DIR, error) || !bind_tree("/tmp", REAL_TMP_DIR, error) ||
        !mount_tmpfs("/tmp", "1777", error)) {
        return false;
    }
    for (const std::string &top : tmp_entries_in_use()) {
        if (!keep_tmp_entry(top, error)) {
            return false;
        }
    }
    // The rest of the host's /tmp stays out of sight.
    if (umount2(REAL_TMP_DIR, MNT_DETACH) != 0) {
        *error = std::string("umount ") + REAL_TMP_DIR + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool enter_private_namespace(std::string *error) {
    if (unshare(CLONE_NEWNS) != 0) {
        *error = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    return make_private_root(error) && mount_tmpfs("/run", "0755", error) &&
           make_dirs(KERNEL_STATE_DIR, error) && make_dirs(FS_MOUNT_DIR, error) &&
           make_dirs(SCRATCH_DIR, error) && stage_real_trees(error) && mount_private_tmp(error) &&
           mount_usr_lib(error);
}

bool mount_kernel_views(std::string *error) {
    return bind_tree(std::string(FS_MOUNT_DIR) + "/proc", "/proc", error) &&
           mount_sys_kernel(error) && mount_dev(error);
}

}  // namespace lkpsim
