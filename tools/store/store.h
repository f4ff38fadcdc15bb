// The store of installed packages: what "lkpctl boot" applies after a
// reboot. One directory per kernel release under <root>/var/lib/tesvar/,
// holding the package files and the "order" file (one package name a line,
// first applied first). Every change is atomic: a reader, or the next boot
// after a power cut, sees the old store or the new one, never a mix.
#ifndef LKPCTL_STORE_H
#define LKPCTL_STORE_H

#include <string>
#include <vector>

#include "command.h"
#include "invocation.h"
#include "outcome.h"
#include "step_result.h"

namespace lkpctl {

constexpr const char *STORE_BASE = "var/lib/tesvar";
constexpr const char *ORDER_FILE = "order";

// The store directory for inv: --root (default "/") and --kernel-release
// (default: the running kernel's release).
std::string store_dir(const Invocation &inv);

// The running kernel's release ("" when uname fails).
std::string running_release();

// The installed package names in boot order; empty when nothing is installed.
std::vector<std::string> read_order(const std::string &dir);

// Replaces dir/name with bytes: a temporary name, fsync, rename, fsync of
// the directory. LKPCTL_FAULT_AT=N (tests only) ends the process abruptly
// at the N-th step of the tool's store writes, as a power cut would.
StepResult write_atomically(const std::string &dir, const std::string &name,
                            const std::string &bytes);

extern const ValueOption STORE_OPTIONS[];
extern const size_t STORE_OPTION_COUNT;
extern const ValueOption INSTALL_OPTIONS[];
extern const size_t INSTALL_OPTION_COUNT;

Outcome run_install(const Invocation &inv);
Outcome run_uninstall(const Invocation &inv);

}  // namespace lkpctl

#endif
