// The private mount namespace in which the library's fixed paths lead to the
// simulated kernel side. Nothing of it is visible outside, and it ends with
// the last process in it.
#ifndef LKPSIM_NAMESPACE_SETUP_H
#define LKPSIM_NAMESPACE_SETUP_H

#include <string>

#include "sim_paths.h"

namespace lkpsim {

// Run before any thread exists: a private mount namespace with fresh tmpfs
// on /run (the simulator's own files), /tmp (with the host's entries that
// hold this program, its working directory and the paths on its command
// line bound in, so a build tree under /tmp works) and /usr/lib (the real entries
// linked, plus an empty modules/<release>/mts/), and the real /proc, /dev
// and /sys/kernel staged under /run/lkpsim for the views that replace them.
bool enter_private_namespace(std::string *error);

// Run once the file server is up: its views onto /proc and
// /sys/kernel/livepatch, and a /dev with the real entries linked, a fresh
// /dev/shm and room for /dev/log.
bool mount_kernel_views(std::string *error);

}  // namespace lkpsim

#endif
