// Waiting for a package's transitions after a command, and undoing the
// command when they stall.
#include "transition_command.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "json.h"
#include "list.h"
#include "record_files.h"
#include "tesvar.h"
#include "transition_wait.h"

namespace lkpctl {
namespace {

constexpr double MAX_GRACE_SECONDS = 5.0;
// Undoing a stalled transition leaves the stuck tasks where they were, so
// the reversed transition needs only the tasks that had switched.
constexpr double REVERSAL_WAIT_SECONDS = 10.0;
constexpr std::chrono::seconds REMOVAL_RETRY_LIMIT{5};
constexpr double DEFAULT_TAKE_OUT_WAIT_SECONDS = 60.0;

std::vector<std::string> package_patches(const std::string &package) {
    std::vector<ControlRecord> records;
    std::vector<std::string> patches;
    if (read_control_records(&records) != 0) {
        return patches;
    }
    for (const ControlRecord &record : records) {
        if (record.package == package) {
            patches.push_back(record.patch);
        }
    }
    return patches;
}

std::string seconds_text(long milliseconds) {
    char text[32];
    (void)std::snprintf(text, sizeof text, "%ld.%03ld s", milliseconds / 1000, milliseconds % 1000);
    return text;
}

std::string joined(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &word : words) {
        text += (text.empty() ? "" : ", ") + word;
    }
    return text;
}

std::string task_line(const UnpatchedTask &task) {
    return "task " + std::to_string(task.pid) + "/" + std::to_string(task.tid) + " (" +
           (task.comm.empty() ? "?" : task.comm) + ") has not switched (patch_state " +
           std::to_string(task.patch_state) + ")";
}

std::vector<std::string> task_lines(const std::vector<UnpatchedTask> &tasks) {
    std::vector<std::string> lines;
    for (const UnpatchedTask &task : tasks) {
        lines.push_back(task_line(task));
        if (task.stack.empty()) {
            lines.push_back("  (kernel stack not readable)");
        }
        for (const std::string &frame : task.stack) {
            lines.push_back("  " + frame);
        }
    }
    return lines;
}

// Progress on stderr: rewritten in place on a terminal, and the signal and
// the stalled tasks as lines of their own.
class ProgressPrinter {
public:
    explicit ProgressPrinter(const Invocation &inv)
        : prefix_("lkpctl: " + inv.command + ": "),
          quiet_(inv.json),
          terminal_(isatty(STDERR_FILENO) == 1) {}
    ~ProgressPrinter() { end_line(); }
    ProgressPrinter(const ProgressPrinter &) = delete;
    ProgressPrinter &operator=(const ProgressPrinter &) = delete;

    void operator()(const TransitionEvent &event) {
        if (quiet_) {
            return;
        }
        if (event.kind == TransitionEvent::Progress) {
            if (terminal_) {
                (void)std::fprintf(stderr, "\r\033[K%sin transition for %s: %s", prefix_.c_str(),
                                   seconds_text(event.elapsed_ms).c_str(),
                                   joined(event.in_transition).c_str());
                open_line_ = true;
            }
            return;
        }
        end_line();
        if (event.kind == TransitionEvent::Signalled) {
            const std::string what = event.problem.empty() ? "signalled its tasks"
                                                           : "could not signal: " + event.problem;
            (void)std::fprintf(stderr, "%s%s still in transition: %s\n", prefix_.c_str(),
                               event.patch.c_str(), what.c_str());
            return;
        }
        for (const std::string &line : task_lines(event.tasks)) {
            (void)std::fprintf(stderr, "%s%s\n", prefix_.c_str(), line.c_str());
        }
    }

private:
    void end_line() {
        if (open_line_) {
            (void)std::fputc('\n', stderr);
            open_line_ = false;
        }
    }

    std::string prefix_;
    bool quiet_;
    bool terminal_;
    bool open_line_ = false;
};

// Waits for the reversed transitions; true when they ended in time.
bool wait_reversed(const std::vector<std::string> &patches) {
    TransitionWaitLimits limits;
    limits.timeout_seconds = REVERSAL_WAIT_SECONDS;
    limits.grace_seconds = REVERSAL_WAIT_SECONDS;
    return wait_for_transitions(patches, limits, [](const TransitionEvent &) {}).completed;
}

std::string failed_step(const char *what, int32_t result) {
    return std::string("could not ") + what + ": " + std::to_string(result) + " " +
           navo_lkp_strerror(result);
}

// Upstream, a disabled patch's module stays held until the kernel has freed
// the patch, a moment after its transition ends: a refusal for that
// (EAGAIN, EBUSY) is tried again for a while, at growing intervals.
int32_t remove_when_released(const std::string &package) {
    const auto limit = std::chrono::steady_clock::now() + REMOVAL_RETRY_LIMIT;
    long delay_ms = 0;
    for (;;) {
        const int32_t result = navo_lkp_remove(package.c_str());
        if ((result != -EAGAIN && result != -EBUSY) || std::chrono::steady_clock::now() > limit) {
            return result;
        }
        delay_ms = next_poll_ms(delay_ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    }
}

// Undoes the command; says what was done, or what could not be.
std::string reverse(Change change, const std::string &package,
                    const std::vector<std::string> &patches) {
    if (change == Change::Deactivate) {
        const int32_t result = navo_lkp_activate(package.c_str());
        if (result != 0) {
            return failed_step("enable the package again", result);
        }
        return wait_reversed(patches) ? "enabled again" : "enabled again; still in transition";
    }
    const int32_t disabled = navo_lkp_deactivate(package.c_str());
    if (disabled != 0) {
        return failed_step("disable the package", disabled);
    }
    if (!wait_reversed(patches)) {
        return "disabled; still in transition";
    }
    if (change == Change::Activate) {
        return "disabled";
    }
    const int32_t removed = remove_when_released(package);
    return removed == 0 ? "disabled and removed" : "disabled; " + failed_step("remove it", removed);
}

std::string tasks_json(const std::vector<UnpatchedTask> &tasks) {
    JsonArray array;
    for (const UnpatchedTask &task : tasks) {
        JsonArray stack;
        for (const std::string &frame : task.stack) {
            stack.string(frame);
        }
        array.raw(JsonObject()
                      .number("pid", task.pid)
                      .number("tid", task.tid)
                      .string("comm", task.comm)
                      .number("patch_state", task.patch_state)
                      .raw("stack", stack.str())
                      .str());
    }
    return array.str();
}

std::string report_json(const std::vector<std::string> &patches, const TransitionReport &report,
                        const std::string &reversal) {
    JsonObject object;
    object.raw("patches", json_strings(patches))
        .raw("completed", report.completed ? "true" : "false")
        .raw("interrupted", report.interrupted ? "true" : "false")
        .number("waited_ms", report.waited_ms)
        .raw("signalled", json_strings(report.signalled))
        .raw("signal_failures", json_strings(report.signal_failures))
        .raw("stalled", json_strings(report.stalled))
        .raw("tasks", tasks_json(report.tasks));
    if (!report.completed) {
        object.string("reversal", reversal);
    }
    return object.str();
}

// data with one more member; data is an object's JSON text.
std::string with_member(const std::string &data, const std::string &key, const std::string &value) {
    const std::string member = json_quote(key) + ":" + value;
    return data == "{}" ? "{" + member + "}" : data.substr(0, data.size() - 1) + "," + member + "}";
}

Outcome stalled_outcome(const std::string &step, const TransitionReport &report,
                        const std::string &reversal) {
    Outcome outcome = outcome_of(-ETIMEDOUT);
    outcome.details.push_back(std::string(report.interrupted ? "wait interrupted; " : "") +
                              "still in transition after " + seconds_text(report.waited_ms) + ": " +
                              joined(report.stalled));
    for (const std::string &failure : report.signal_failures) {
        outcome.details.push_back("could not signal " + failure);
    }
    const std::vector<std::string> lines = task_lines(report.tasks);
    if (lines.empty()) {
        outcome.details.push_back("no unpatched task found");
    }
    outcome.details.insert(outcome.details.end(), lines.begin(), lines.end());
    outcome.details.push_back(step + " undone: " + reversal);
    return outcome;
}

}  // namespace

PackageWait wait_for_package(const Invocation &inv, const std::string &package, Change change,
                             const std::string &step) {
    const std::vector<std::string> patches = package_patches(package);
    TransitionWaitLimits limits;
    limits.timeout_seconds = inv.wait_seconds;
    limits.grace_seconds = std::min(inv.wait_seconds / 4, MAX_GRACE_SECONDS);
    TransitionReport report;
    {
        ProgressPrinter printer(inv);
        report = wait_for_transitions(patches, limits,
                                      [&printer](const TransitionEvent &event) { printer(event); });
    }
    PackageWait waited;
    std::string reversal;
    if (report.completed) {
        waited.outcome.text =
            package + ": no patch in transition after " + seconds_text(report.waited_ms) + "\n";
    } else {
        reversal = reverse(change, package, patches);
        waited.outcome = stalled_outcome(step, report, reversal);
        waited.interrupted = report.interrupted;
    }
    waited.json = report_json(patches, report, reversal);
    return waited;
}

std::string undo_change(Change change, const std::string &package) {
    return reverse(change, package, package_patches(package));
}

namespace {

// True when a patch of the loaded package is enabled: the package's own
// state is its last patch's, and an activation cut short may have enabled
// only the first ones.
bool any_patch_enabled(const std::string &package) {
    std::vector<PackageView> loaded;
    if (loaded_packages(&loaded) != 0) {
        return false;
    }
    for (const PackageView &view : loaded) {
        for (const PatchView &patch : view.patches) {
            if (view.name == package && patch.state == "enabled") {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

Outcome take_out(const Invocation &inv, const std::string &package) {
    std::string text;
    const bool active = any_patch_enabled(package);
    if (active) {
        const int32_t disabled = navo_lkp_deactivate(package.c_str());
        if (disabled != 0) {
            Outcome failed = outcome_of(disabled);
            failed.details.push_back(package + " is active and could not be deactivated first");
            return failed;
        }
        text = package + ": active: deactivated first\n";
        Invocation waiting = inv;
        if (!waiting.wait) {
            waiting.wait = true;
            waiting.wait_seconds = DEFAULT_TAKE_OUT_WAIT_SECONDS;
        }
        PackageWait waited = wait_for_package(waiting, package, Change::Deactivate, "deactivate");
        if (waited.outcome.exit_status != EXIT_OK) {
            waited.outcome.text = text;
            waited.outcome.details.push_back(package + " is not removed");
            return waited.outcome;
        }
        // How long it took is said only when the operator asked to wait.
        text += inv.wait ? waited.outcome.text : "";
    }
    // Only a patch just disabled may still be held for a moment.
    Outcome outcome =
        outcome_of(active ? remove_when_released(package) : navo_lkp_remove(package.c_str()));
    if (outcome.exit_status == EXIT_OK) {
        outcome.text = text + package + ": removed\n";
    } else {
        outcome.text = text;
    }
    return outcome;
}

Outcome finish_transitions(const Invocation &inv, Outcome outcome, const std::string &package,
                           Change change) {
    if (!inv.wait || outcome.exit_status != EXIT_OK) {
        return outcome;
    }
    const PackageWait waited = wait_for_package(inv, package, change, inv.command);
    if (waited.outcome.exit_status == EXIT_OK) {
        outcome.text += waited.outcome.text;
    } else {
        const std::string data = outcome.data;
        outcome = waited.outcome;
        outcome.data = data;
    }
    outcome.data = with_member(outcome.data, "transition", waited.json);
    return outcome;
}

}  // namespace lkpctl
