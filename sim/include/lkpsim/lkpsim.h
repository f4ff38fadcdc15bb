// lkpsim: the simulated kernel side.
//
// A test process (or the `lkpsim run` demo runner) calls lkpsim::enter() first
// thing in main(). The process then lives in a private mount namespace where
// the library's fixed paths lead to an emulated patch manager and live-patching
// facility:
//   /proc/navo_lkp_list          control file (records; "add"/"rm" op lines)
//   /proc/livepatch/state        state file (two head lines, a line per live
//                                patch module in the kernel, trailer)
//   /sys/kernel/livepatch/<p>/   enabled switch and one directory per patched module
//   /lib/modules/<release>/mts/  where "tesvar.ko" may be placed
//   /dev/log                     captured system log
//   /tmp                         private
// and init_module/delete_module made through syscall() are emulated against a
// module table. A seccomp guard makes any real module call fail with
// lkpsim::GUARD_ERRNO, so nothing can reach the host's module loader.
#ifndef LKPSIM_LKPSIM_H
#define LKPSIM_LKPSIM_H

#include <string>
#include <vector>

namespace lkpsim {

// The errno a real init_module, finit_module or delete_module gets under the guard.
constexpr int GUARD_ERRNO = 133;  // EHWPOISON: never a module loader's answer

// Sets up the guard, the namespace and the kernel side; exits the process
// with a message on stderr when that is impossible (not root, no FUSE).
void enter();

// True once enter() has run in this process.
bool entered();

// For a helper program started inside the namespace (such as `lkpsim kernel`):
// joins the kernel state an outer process set up, without taking over the
// system log. False when there is none. The observation and scene functions
// below then work; take_log() does not.
bool attach();

// True when no process (this one included) holds the kernel state's lock,
// i.e. no module call or kernel file request is half-way through its change.
// A crash test kills a process only then: a real kernel's module and record
// changes are whole, whenever their caller dies.
bool kernel_lock_free();

// Back to the default kernel: manager module loaded (control file present),
// state file present, no patch inserted or registered, default target
// modules loaded ("vmlinux", "ext4", "nfs", "tcp_cubic"), no fault armed,
// history and captured log cleared, tesvar.ko not placed under /lib/modules,
// instant transitions, no free window. The kernel model is the default one,
// or the upstream one (set_enable_on_insert(true)) when the environment
// variable LKPSIM_KERNEL says "upstream".
void reset();

// The environment variable that picks the kernel model reset() goes back to.
constexpr const char *KERNEL_MODEL_VARIABLE = "LKPSIM_KERNEL";
// True when that variable says "upstream".
bool upstream_by_default();

// --- Observation -----------------------------------------------------------

// Everything the kernel side saw, in order, one line each:
//   "op add,2,pkg.tar.gz,fix_a"          an op line accepted at close (texts
//                                         as written; a newline shows as \n)
//   "op! add,2,pkg.tar.gz,fix_a"         an op line refused at close
//   "enable fix_a 1" / "enable! fix_a 1" an enable write accepted / refused
//   "init fix_a 0" / "init fix_a -65"    init_module: module name (or "?" when
//                                         the image has none) and result
//   "delete fix_a 0x880 0"               delete_module: name, flags, result
std::vector<std::string> history();
// The same lines, filtered by their first word ("op", "enable", "init",
// "delete"; the refused forms count under their word).
std::vector<std::string> history(const std::string &kind);
void clear_history();

// One captured system log line.
struct LogLine {
    // syslog priority (facility bits removed), e.g. 6 for LOG_INFO
    int priority;
    // the message as logged, e.g. "[LKP-ERR]:open_file: The file is not existent.\n"
    std::string text;
};
// Every line logged since the last call (or reset), in order; waits until
// every line sent before the call has arrived.
std::vector<LogLine> take_log();
// The same, texts only, each without its one trailing newline added by the
// log format (a message that itself ends in a newline keeps that one).
std::vector<std::string> take_log_texts();

// --- Kernel state ----------------------------------------------------------

// Names of the inserted modules (patches and the manager), in insertion order.
std::vector<std::string> inserted_modules();
bool module_inserted(const std::string &name);
// Registered records as the control file lists them: "num,pkg,patch".
std::vector<std::string> records();
// The state word of a registered patch ("" when it has none).
std::string patch_state(const std::string &patch);

// Loads or unloads a target module (one a patch can patch); a patch whose
// target is not loaded fails to insert with ENOPKG.
void set_target_loaded(const std::string &module, bool loaded);

// Direct changes that bypass the library, for arranging a scene.
// Inserts a patch module as if init_module had accepted it.
void insert_patch(const std::string &patch, const std::vector<std::string> &targets = {"vmlinux"});
// Inserts a module that is no live patch (no directory, no state line).
void insert_plain_module(const std::string &name);
// Registers a record as if an "add" line had been accepted.
void register_patch(int num, const std::string &pkg, const std::string &patch);
// Sets a registered patch's state word ("enabled", "disabled" or any other).
void set_patch_state(const std::string &patch, const std::string &state);

// --- Faults ----------------------------------------------------------------

// The next op line is refused at close with this errno.
// With a word ("add" or "rm") or a patch name, the next op line of that word
// or for that patch is refused.
void refuse_next_op(int error = 22, const std::string &word = "");
// The next enable write is refused at close with this errno.
void refuse_next_enable(int error = 22);
// The next init_module (of `name`, or of any module when empty) fails with error.
void fail_next_init(int error, const std::string &name = "");
// The next delete_module (of `name`, or of any when empty) fails with error.
void fail_next_delete(int error, const std::string &name = "");
// Hides a patch's livepatch directory (enabled file and module directories)
// while its module stays inserted.
void hide_livepatch_dir(const std::string &patch);

enum class Manager {
    Loaded,            // control file present
    AbsentInsertable,  // no control file; a valid tesvar.ko placed, inserting it brings the file
    AbsentRefused,     // no control file; tesvar.ko placed, the kernel refuses it (EPERM)
    AbsentMissing,     // no control file; no tesvar.ko anywhere
};
void set_manager(Manager manager);
// Shows or hides /proc/livepatch/state (a kernel without live patching).
void set_state_file_present(bool present);
// The upstream kernel's model (after reset(), on only when
// upstream_by_default()): a live patch module is enabled by its insertion
// (its record, once added, says "enabled"), which starts its transition and
// is refused with EBUSY while another patch is in transition; writing "0" to
// its enabled file disables it for good: when the disabling transition ends
// the patch is freed (after the free window, below) and its livepatch
// directory goes while the module stays; outside its own transition, writing
// "1", or "0" to a disabled patch, is refused with EINVAL; delete_module of
// an enabled patch's module fails with EAGAIN.
void set_enable_on_insert(bool on);
// Upstream: each freeing lasts this many removals of its module, each
// answered EAGAIN while the directory still shows enabled 0 and transition 0
// (0 after reset(): freed at once).
void set_free_window(int removals);
// --- Transitions -----------------------------------------------------------

// How a transition started by an enable switch (or, in the upstream model,
// by an insertion) ends. While one is under way, the patch's
// /sys/kernel/livepatch/<patch>/transition file says 1, another patch's
// switch is refused with EBUSY, writing the patch's switch the other way
// reverses the transition (which ends at once) and its module cannot be
// removed (EBUSY). Writing "1" to its "signal" file is recorded as
// "signal <patch> 1" in the history ("signal! ..." when refused: EINVAL
// when the patch is not in transition).
enum class TransitionScene {
    Instant,        // ends as it starts (after reset())
    AfterSignal,    // ends when the patch's signal file is written
    UntilReleased,  // ends when every simulated task has been released
    Timed,          // ends set_transition_time() milliseconds after it starts
};
void set_transition_scene(TransitionScene scene);
// Makes transitions Timed, each lasting this many milliseconds.
void set_transition_time(int milliseconds);
// A simulated task: /proc/<pid>/task/<pid>/ then holds "patch_state" ("-1"
// outside a transition; during one, the state the task is still in, or the
// target once it has switched), "comm" and "stack" (the text given) in place
// of the real procfs entry. Pick a pid that no real process has (e.g. above
// 4000000). At most 8.
void add_task(int pid, const std::string &comm, const std::string &stack);
// The task switches (now, or once this many milliseconds have passed).
void release_task(int pid);
void release_task_after(int pid, int milliseconds);
// The patch now in transition, "" when none.
std::string patch_in_transition();

// Serves this text as the control file / state file instead of the records.
void set_raw_control(const std::string &text);
void set_raw_state(const std::string &text);
// Back to generated contents.
void clear_raw();

// --- Programs and paths ----------------------------------------------------

// Runs argv[0] (searched in PATH) with argv inside the namespace, with the
// module calls of its own syscall() answered by this kernel side (through
// LD_PRELOAD of liblkpsim_preload.so); waits for it. When this process runs
// under a user-mode emulator named in $LKPSIM_EMULATOR, a program built for
// the same architecture is started through that emulator, and a host program
// (such as tar) natively without the preload. Its exit status, 128 +
// the signal number when a signal ended it, 127 when it could not be run.
int run_program(char *const argv[]);
// The same, with the program's standard output and standard error collected
// into *out and *err instead of inherited.
int run_program(char *const argv[], std::string *out, std::string *err);

// "/lib/modules/<release>/mts/tesvar.ko": where set_manager places the
// manager module file.
std::string manager_module_path();

// A directory on a tmpfs outside /tmp for files that tests build; empty
// after enter(), never cleaned by reset().
std::string scratch_root();

}  // namespace lkpsim

#endif
