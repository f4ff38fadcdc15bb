// What the simulated kernel side needs of the host (root, a mount namespace,
// FUSE, seccomp), probed before entering it, so that a test executable on a
// host that lacks one skips with the reason instead of failing.
#ifndef LKPTEST_HOST_PROBE_H
#define LKPTEST_HOST_PROBE_H

#include <string>

namespace lkptest {

// The exit status of a test executable that skipped every test; ctest
// reports it as "Skipped" (SKIP_RETURN_CODE).
constexpr int SKIP_ALL_STATUS = 77;

// Empty when the host offers everything the simulated kernel side needs;
// otherwise a one-line reason naming what is missing.
std::string missing_host_feature();

// Empty when a terminal can be had (the `script` program and a
// pseudo-terminal); otherwise the reason.
std::string missing_terminal();

}  // namespace lkptest

#endif
