// The tool's own lock: subcommands that change the kernel's patches run one
// at a time across every lkpctl on the machine.
#ifndef LKPCTL_TOOL_LOCK_H
#define LKPCTL_TOOL_LOCK_H

#include <string>

#include "step_result.h"
#include "sys/owned_fd.h"

namespace lkpctl {

// An exclusive advisory lock (flock) on this file; released when the tool
// exits, however it exits. Where the file cannot be made (no /run), the tool
// runs unlocked.
constexpr const char *TOOL_LOCK_PATH = "/run/lkpctl.lock";

// True for load, preload, validate, activate, deactivate, remove, insmod,
// rmmod, install, uninstall, boot and repair.
bool changes_kernel(const std::string &command);

class ToolLock {
public:
    // Takes the lock. Without no_wait it waits, saying so on stderr once
    // it has waited one second; with no_wait a held lock fails at once.
    // A lock file that is not a regular file (a directory, link or FIFO in
    // its place) fails with -37: the tool then changes nothing.
    StepResult acquire(bool no_wait);

private:
    StepResult wait_for(bool no_wait);

    tesvar::Fd file_;
};

}  // namespace lkpctl

#endif
