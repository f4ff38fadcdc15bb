// lkpctl: manages live kernel patch packages through libtesvar.
#include <syslog.h>

#include <cerrno>
#include <cstdio>

#include "boot.h"
#include "check.h"
#include "cli.h"
#include "command.h"
#include "explain.h"
#include "help.h"
#include "info.h"
#include "json.h"
#include "list.h"
#include "ops.h"
#include "outcome.h"
#include "pack.h"
#include "repair.h"
#include "signals.h"
#include "standard_streams.h"
#include "status.h"
#include "store.h"
#include "tool_lock.h"

namespace lkpctl {
namespace {

constexpr size_t ONE = 1;
constexpr size_t MANY = static_cast<size_t>(-1);

Outcome run_help(const Invocation &inv);

const Command COMMANDS[] = {
    {"load", "PKG", "load a package file into the kernel",
     "Extracts the package file PKG, checks it, inserts each patch module and registers it under "
     "the package name (PKG's file name). The patches are not enabled: see activate. A "
     "package already loaded fails with -267, after a line comparing its registered patches "
     "with PKG's units (\"partially loaded (2 of 3 patches)\" for a load that was cut off)."
     " With --wait[=SECONDS] (60 by default), then waits until no patch of the package is in "
     "transition, signals the stalled ones after a quarter of that time (at most 5 s) and names "
     "the tasks that have not switched; on timeout it undoes the command (disable and remove the "
     "package) and fails with -110. See docs/transitions.md.",
     ONE, ONE, nullptr, 0, run_load},
    {"preload", "PKG", "try whether a package would load: load it, then remove it",
     "Loads PKG and, when that succeeds, removes it again at once. A package that is already "
     "loaded counts as a success and is left alone.",
     ONE, ONE, nullptr, 0, run_preload},
    {"validate", "PKG", "the same as preload", "The same operation as preload.", ONE, ONE, nullptr,
     0, run_validate},
    {"activate", "NAME", "enable every patch of a loaded package",
     "Enables the patches of the loaded package NAME (the package file's name, e.g. "
     "hotfix_01.tar.gz), first to last."
     " With --wait[=SECONDS] (60 by default), then waits until no patch of the package is in "
     "transition, signals the stalled ones after a quarter of that time (at most 5 s) and names "
     "the tasks that have not switched; on timeout it undoes the command (disable the package) and "
     "fails with -110. See docs/transitions.md."
     " A package whose disabled patches the kernel has freed (upstream kernels free every "
     "disabled patch) is removed and loaded again from the store under --root (as boot would "
     "apply it) when the store has it; otherwise lkpctl says what to run.",
     ONE, ONE, BOOT_OPTIONS, BOOT_OPTION_COUNT, run_activate},
    {"deactivate", "NAME", "disable every patch of a loaded package",
     "Disables the patches of the loaded package NAME, last to first."
     " With --wait[=SECONDS] (60 by default), then waits until no patch of the package is in "
     "transition, signals the stalled ones after a quarter of that time (at most 5 s) and names "
     "the tasks that have not switched; on timeout it undoes the command (enable the package "
     "again, where the kernel still allows it) and fails with -110. See docs/transitions.md.",
     ONE, ONE, nullptr, 0, run_deactivate},
    {"state", "NAME", "print a package's state word and number",
     "Prints the state of package NAME, the state of its last patch: \"enabled 5\", "
     "\"disabled 2\" or \"unknown 0\" (not loaded), and answers with its exit status too, "
     "as \"systemctl is-active\" does: 0 enabled, 3 disabled, 4 not loaded. \"invalid 9\" "
     "(exit status 1) means the kernel's record files disagree or hold a state word outside "
     "these.",
     ONE, ONE, nullptr, 0, run_state},
    {"remove", "NAME", "take a loaded package out of the kernel",
     "Removes each patch module of package NAME from the kernel and unregisters it, newest "
     "first. An active package is deactivated first, and its transition waited for (--wait's "
     "time, 60 s by default; one that stalls is enabled again and nothing is removed): it says "
     "so. Cancelled by a signal, the removal is taken back when the store under --root (the "
     "one boot applies) holds the package: it is loaded again from there and switched as it "
     "was.",
     ONE, ONE, BOOT_OPTIONS, BOOT_OPTION_COUNT, run_remove},
    {"list", "", "list the registered packages, their patches and states",
     "Prints every registered package with its patches in registration order and the state "
     "word of each, as the control file /proc/navo_lkp_list and the state file "
     "/proc/livepatch/state show them. A package's own state is that of its last patch.",
     0, 0, nullptr, 0, run_list},
    {"owner", "MODULE", "print the package that last patched a kernel module",
     "Prints the name of the loaded package whose patch, last in registration order, covers "
     "kernel module MODULE (e.g. vmlinux or ext4).",
     ONE, ONE, nullptr, 0, run_owner},
    {"insmod", "FILE", "insert one kernel module file",
     "Inserts the kernel module file FILE, as package loading does for each patch module.", ONE,
     ONE, nullptr, 0, run_insmod},
    {"rmmod", "NAME", "remove one kernel module",
     "Removes kernel module NAME (a module name or module file name; '-' counts as '_').", ONE, ONE,
     nullptr, 0, run_rmmod},
    {"strerror", "CODE", "print the message of a result code",
     "Prints the message the library gives for result code CODE, e.g. -267.", ONE, ONE, nullptr, 0,
     run_strerror},
    {"help", "[COMMAND]", "show the commands, or one command's details",
     "Prints the list of commands and options, or with COMMAND the same as "
     "\"lkpctl COMMAND --help\".",
     0, ONE, nullptr, 0, run_help},
    {"pack", "UNIT.ko...", "build a package file from patch module files",
     "Builds the package file named with -o: a directory named after the package holding the "
     "\"content\" manifest and one unit archive <patch>.tar.gz per module file, in the order "
     "given. The output is reproducible: the same inputs and options give the same bytes. "
     "Names must fit the control file: the package name at most 63 characters ending in "
     "\".tar.gz\", patch names short enough for \"<patch>.tar.gz\" to fit in 63 characters, and "
     "no name with a comma, blank, TAB or newline.",
     ONE, MANY, PACK_OPTIONS, PACK_OPTION_COUNT, run_pack},
    {"check", "PKG", "check a package file offline, without the kernel",
     "Extracts PKG into a private temporary directory and runs the checks a load runs before "
     "touching the kernel: the package layout and manifest, then each unit's layout and patch "
     "name, then reads each module: it must be an ELF relocatable object with a \".modinfo\" "
     "section whose name= (if any) is the patch name, should be marked livepatch=Y (a warning "
     "otherwise), and with --kernel-release R must be built for release R. Entries that are "
     "links, FIFOs, devices or sockets are named. Prints the units and their patch names, or "
     "each problem found, one line each. Nothing is left behind.",
     ONE, ONE, CHECK_OPTIONS, CHECK_OPTION_COUNT, run_check},
    {"info", "PKG", "show a package file's manifest and modules, offline",
     "Prints the package's version, description and date from its manifest, and for each unit "
     "its module file, size, declared module name, vermagic and livepatch flag. Nothing is "
     "loaded.",
     ONE, ONE, nullptr, 0, run_info},
    {"install", "PKG...", "install packages so that boot applies them after each reboot",
     "Copies each package file PKG into the store of the kernel release "
     "(<root>/var/lib/tesvar/<release>/) and names it in the store's order file, which boot "
     "follows. New packages go last, a reinstalled one keeps its place, unless --before or "
     "--after places them. Nothing is loaded: run boot, or load and activate. Every change of "
     "the store is atomic.",
     ONE, MANY, INSTALL_OPTIONS, INSTALL_OPTION_COUNT, run_install},
    {"uninstall", "NAME...", "take installed packages out of the store",
     "Removes the packages NAME from the store, so that boot no longer applies them. A loaded "
     "package stays loaded: see deactivate and remove.",
     ONE, MANY, STORE_OPTIONS, STORE_OPTION_COUNT, run_uninstall},
    {"boot", "", "load and activate every installed package, in order",
     "Applies the store of the running kernel release in its order: each package is loaded and "
     "activated, activated if it is loaded but disabled, and left alone if it is active; one "
     "partially loaded is taken out and loaded again (\"reloaded\"); a patch module of one of "
     "its units that a killed load left without a record is removed first. A "
     "failure is reported and the next package is tried; the exit status is 1 if any failed. "
     "With --wait[=SECONDS], each package it loads or activates must finish its transition "
     "first, as with load --wait; one that stalls is undone and fails with -110. "
     "The service tesvar.service runs it at startup.",
     0, 0, BOOT_OPTIONS, BOOT_OPTION_COUNT, run_boot},
    {"status", "", "show live-patching support, the loaded and the installed packages",
     "Prints whether the kernel supports live patching, whether the patch manager module is "
     "loaded, each loaded package with its patches and states (and which patches are in "
     "transition; not since when: the kernel does not say), and each installed package of "
     "the kernel release with whether it is loaded. When something needs an operator (no "
     "live patching, the patch manager missing, a package installed but not loaded, loaded "
     "but not installed and so lost at reboot, partially loaded, half switched by a switch "
     "cut off half-way, or in transition) the first "
     "line says so, the last lines list each finding, and the exit status is 3.",
     0, 0, STORE_OPTIONS, STORE_OPTION_COUNT, run_status},
    {"repair", "", "remove what a crash left: orphan patch modules, partial packages",
     "Removes what a load or removal killed half-way left behind, as status reports it: a live "
     "patch module in the kernel that the control file does not name (its enabled switch is "
     "turned off first when on, and its transition waited for), a package with fewer registered "
     "patches than its unit count (deactivated first when active, then removed), and /tmp/lkp_* "
     "directories whose maker is gone. Load such a package again afterwards (or run boot). "
     "See docs/recovery.md.",
     0, 0, nullptr, 0, run_repair},
};

const CommandTable TABLE{COMMANDS, sizeof COMMANDS / sizeof COMMANDS[0]};

Outcome help_text(const Command *command) {
    Outcome outcome = outcome_of(0);
    outcome.text = command != nullptr ? command_help(*command) : tool_help(TABLE);
    outcome.data = JsonObject().string("help", outcome.text).str();
    return outcome;
}

Outcome help_outcome(const ParsedLine &line) {
    return help_text(line.command);
}

Outcome run_help(const Invocation &inv) {
    if (inv.args.empty()) {
        return help_text(nullptr);
    }
    const Command *command = TABLE.find(inv.args[0]);
    if (command == nullptr) {
        return usage_error("unknown command '" + inv.args[0] + "'");
    }
    return help_text(command);
}

Outcome version_outcome() {
    Outcome outcome = outcome_of(0);
    outcome.text = std::string("lkpctl ") + TESVAR_VERSION + "\n";
    outcome.data = JsonObject().string("version", TESVAR_VERSION).str();
    return outcome;
}

Outcome lock_failure(const StepResult &result) {
    Outcome outcome = outcome_of(result.code);
    outcome.details.push_back(result.detail);
    return outcome;
}

// An operator's signal arrived while the command ran: what it did is taken
// back, still under the lock and with the signals deferred.
void cancel(const Invocation &inv, int signal_number, Outcome *outcome) {
    const std::string undone = outcome->undo();
    Outcome cancelled = outcome_of(-EINTR);
    cancelled.text = outcome->text;
    cancelled.data = outcome->data;
    cancelled.details = outcome->details;
    cancelled.details.push_back(std::string(signal_name(signal_number)) + " received; " +
                                inv.command + " undone: " + undone);
    cancelled.undone = true;
    *outcome = cancelled;
}

// Runs the subcommand, under the tool's lock when it changes the kernel.
// A termination signal that arrives meanwhile is kept in *signal_number:
// deferred until the library call (and its rollback) has finished, or, for
// pack, caught so that pack stops and cleans up.
Outcome run(const ParsedLine &line, ToolLock *lock, int *signal_number) {
    if (!line.error.empty()) {
        return usage_error(line.error);
    }
    if (line.inv.help) {
        return help_outcome(line);
    }
    if (line.inv.version) {
        return version_outcome();
    }
    if (changes_kernel(line.inv.command)) {
        const StepResult locked = lock->acquire(line.inv.no_wait);
        if (!locked.ok()) {
            return lock_failure(locked);
        }
    }
    if (line.command->run == run_pack) {
        const CaughtSignals caught;
        Outcome outcome = line.command->run(line.inv);
        *signal_number = CaughtSignals::caught();
        return outcome;
    }
    DeferredSignals deferred;
    // The programs the library runs (tar, rm) never speak: the library sends
    // their output to /dev/null. The subcommand's own progress lines stay.
    Outcome outcome = line.command->run(line.inv);
    explain_failure(line.inv, &outcome);
    *signal_number = deferred.take();
    if (*signal_number != 0 && outcome.undo) {
        cancel(line.inv, *signal_number, &outcome);
        (void)deferred.take();  // a second Ctrl-C during the undoing changes nothing
    }
    return outcome;
}

// Says what happened before the tool stops for a signal.
void report_signal(const Invocation &inv, const Outcome &outcome, int signal_number) {
    const char *name = signal_name(signal_number);
    if (outcome.undone) {
        return;  // its details said it
    }
    if (inv.command == "pack") {
        (void)std::fprintf(stderr, "lkpctl: pack: %s received; stopped, no package written\n",
                           name);
    } else if (outcome.exit_status == EXIT_OK) {
        (void)std::fprintf(stderr,
                           "lkpctl: %s: %s received; stopped after the operation completed\n",
                           inv.command.c_str(), name);
    } else {
        (void)std::fprintf(
            stderr, "lkpctl: %s: %s received; stopped after the operation finished with %d\n",
            inv.command.c_str(), name, outcome.result);
    }
}

}  // namespace
}  // namespace lkpctl

int main(int argc, char *argv[]) {
    // Before anything opens a file, so that no file becomes standard output.
    if (!lkpctl::open_missing_standard_streams()) {
        return lkpctl::EXIT_FAILED;
    }
    const lkpctl::ParsedLine line = lkpctl::parse_command_line(lkpctl::TABLE, argc, argv);
    if (line.inv.verbose) {
        // The library logs through syslog and never opens the log itself.
        openlog("lkpctl", LOG_PERROR, LOG_USER);
    }
    lkpctl::ToolLock lock;
    int signal_number = 0;
    const lkpctl::Outcome outcome = lkpctl::run(line, &lock, &signal_number);
    int status = lkpctl::report(line.inv, outcome);
    if (signal_number != 0) {
        lkpctl::report_signal(line.inv, outcome, signal_number);
        status = lkpctl::signal_exit_status(signal_number);
    } else if (!lkpctl::output_written()) {
        status = lkpctl::EXIT_FAILED;
    }
    if (line.inv.verbose) {
        closelog();
    }
    return status;
}
