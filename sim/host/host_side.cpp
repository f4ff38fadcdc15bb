// Preparing the host part: guard first, so that nothing started later can
// reach the host's module loader, then namespace, kernel block and files.
#include "host_side.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs_server.h"
#include "guard.h"
#include "kernel_state.h"
#include "namespace_setup.h"

namespace lkpsim {

namespace {

bool failed_call(const std::string &what, std::string *error) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool prepare_host_side(std::string *error) {
    if (!install_module_guard()) {
        return failed_call("cannot install the module guard", error);
    }
    if (geteuid() != 0) {
        *error = "the simulated kernel side needs root";
        return false;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        return failed_call("no usable /dev/fuse", error);
    }
    if (!enter_private_namespace(error)) {
        return false;
    }
    if (!create_kernel()) {
        return failed_call("cannot create the kernel state", error);
    }
    return start_file_server(error) && mount_kernel_views(error);
}

}  // namespace lkpsim
