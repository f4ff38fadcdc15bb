// What the guest test reads from and does to the real kernel around the
// library: files, the module list, live patch transitions, the system log.
#pragma once

#include <string>
#include <vector>

namespace guest {

// The whole text of a file, or "" when it cannot be read.
std::string read_text(const std::string &path);
// Reads a whole file into text; false when it cannot be opened or read.
bool read_file(const std::string &path, std::string *text);
// The whole text of a file that must be readable: one that cannot be opened
// fails the running case ("cannot read PATH"), so that an expected empty
// text never passes for a missing file.
std::string read_required(const std::string &path);
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

// Removes a module by hand (not through the library), retrying while the
// kernel answers EAGAIN or EBUSY (a patch still being freed), for up to
// the transition time limit; 0 or the last errno.
int remove_module(const std::string &name);

// Writes one text with one write() and closes; errno of the refusal, or 0.
int write_op(const std::string &path, const std::string &text);

// The kernel's own log (the console is quiet).
std::string kernel_log();

// Names of the /tmp/lkp_* entries.
std::vector<std::string> lkp_tmp_entries();

// The system log: the guest binds /dev/log itself and reads what the
// library (and lkpctl, and the children) sent, a thread taking the lines in
// as they come. Lines are the message texts, from "[LKP-" on; take_log
// gives those received since the last call, in order.
bool open_log();
std::vector<std::string> take_log();

// The guest's lkpctl.
constexpr const char *LKPCTL = "/opt/lkp/bin/lkpctl";

// Runs lkpctl with the arguments; its exit status and output.
struct ToolRun {
    int status;
    std::string out;
    std::string err;
};
ToolRun run_lkpctl(const std::vector<std::string> &args);

}  // namespace guest
