// What the guest test reads from and does to the real kernel around the
// library: files, the module list, live patch transitions, the system log.
#pragma once

#include <string>
#include <vector>

namespace guest {

// The whole text of a file, or "" when it cannot be read.
std::string read_text(const std::string &path);
bool exists(const std::string &path);

// Whether /proc/modules lists the module.
bool module_loaded(const std::string &name);

// Waits until no live patch is in transition; false after the time limit.
bool wait_transitions();
// Waits until the patch's sysfs directory is gone (a disabled patch is freed
// once its transition ends); false after the time limit.
bool wait_patch_gone(const std::string &patch);

// Takes a patch out by hand, whatever the library left: disables it, waits,
// removes its module and unregisters it. Cases whose failure would leave a
// patch behind end with it, so that one failure does not spread to the next.
void force_clean(const std::string &pkg, const std::string &patch);

// Writes one text with one write() and closes; errno of the refusal, or 0.
int write_op(const std::string &path, const std::string &text);

// The kernel's own log (the console is quiet).
std::string kernel_log();

// Names of the /tmp/lkp_* entries.
std::vector<std::string> lkp_tmp_entries();

// The system log: the guest binds /dev/log itself and reads what the
// library (and lkpctl) sent. Lines are the message texts, from "[LKP-" on.
bool open_log();
std::vector<std::string> take_log();

// Runs lkpctl with the arguments; its standard output and exit status.
struct ToolRun {
    int status;
    std::string out;
};
ToolRun run_lkpctl(const std::vector<std::string> &args);

}  // namespace guest
