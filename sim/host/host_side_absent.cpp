// A build of the client part alone (a target of another architecture): the
// host part must have been prepared by the native launcher.
#include "host_side.h"

namespace lkpsim {

bool prepare_host_side(std::string *error) {
    *error =
        "no simulated kernel side here: this build starts only through the native "
        "launcher (lkpsim-host [EMULATOR...] PROGRAM)";
    return false;
}

}  // namespace lkpsim
