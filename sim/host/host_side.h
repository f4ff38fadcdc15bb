// The native host part of the simulated kernel side: the module guard, the
// private namespace, the shared kernel block and the FUSE file server. A FUSE
// server cannot run under a user-mode emulator (the kernel speaks the
// protocol in the host's byte order), so for a target of another
// architecture the native `lkpsim-host` launcher prepares all this and starts
// the emulated test inside it; the test's own lkpsim::enter() then only
// attaches (see client side in lkpsim.cpp).
#ifndef LKPSIM_HOST_SIDE_H
#define LKPSIM_HOST_SIDE_H

#include <string>

namespace lkpsim {

// Run before any thread exists. False with a reason when the host part cannot
// be prepared (not root, no FUSE) or, in a build without it, is missing.
bool prepare_host_side(std::string *error);

}  // namespace lkpsim

#endif
