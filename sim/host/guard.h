// The seccomp guard: real init_module, finit_module and delete_module fail
// with GUARD_ERRNO in this process and every process it starts.
#ifndef LKPSIM_GUARD_H
#define LKPSIM_GUARD_H

namespace lkpsim {

// False (with errno) when the filter cannot be installed.
bool install_module_guard();

}  // namespace lkpsim

#endif
