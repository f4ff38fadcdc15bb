// Paths of the simulated kernel side that both of its parts know: the native
// host part creates them, the client part (in any architecture) uses them.
#ifndef LKPSIM_SIM_PATHS_H
#define LKPSIM_SIM_PATHS_H

#include <string>

namespace lkpsim {

// "/lib/modules/<release>/mts", where the manager module file may be placed.
std::string manager_module_dir();

// A tmpfs directory outside /tmp for files that tests build.
constexpr const char *SCRATCH_DIR = "/run/lkpsim/scratch";

}  // namespace lkpsim

#endif
