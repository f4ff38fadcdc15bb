// The manager module's directory, named after the running kernel's release.
#include "sim_paths.h"

#include <sys/utsname.h>

namespace lkpsim {

std::string manager_module_dir() {
    struct utsname identity {};
    return "/lib/modules/" + std::string(uname(&identity) == 0 ? identity.release : "unknown") +
           "/mts";
}

}  // namespace lkpsim
