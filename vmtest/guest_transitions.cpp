// lkpctl --wait against a transition the real kernel cannot finish while
// lkp_sleeper's thread sleeps in lkp_sleeper_hold().
#include "guest_transitions.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "guest_checks.h"
#include "guest_kernel.h"

namespace guest {
namespace {

const std::string SLEEPER_PKG = "/opt/lkp/pkg/sleeper.tar.gz";
const std::string HOLD = "/sys/module/lkp_sleeper/parameters/hold";
constexpr auto RELEASE_AFTER = std::chrono::milliseconds(1500);

bool has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// The wait channel of lkp_sleeper's thread (the function it sleeps in), or
// "" when there is no such thread.
std::string sleeper_wait_channel() {
    std::error_code ignored;
    for (const auto &task : std::filesystem::directory_iterator("/proc", ignored)) {
        if (read_text(task.path().string() + "/comm") == "lkp_sleeper\n") {
            return read_text(task.path().string() + "/wchan");
        }
    }
    return "";
}

// The thread put back to sleep inside lkp_sleeper_hold() (each round's
// stall needs it there; the round before let it go): hold written 1, then
// its wait channel must name that function within the time limit.
void hold_the_thread() {
    CHECK_EQ(write_op(HOLD, "1"), 0);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sleeper_wait_channel() != "lkp_sleeper_hold" &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    CHECK_EQ(sleeper_wait_channel(), std::string("lkp_sleeper_hold"));
    CHECK_EQ(read_text(HOLD), std::string("Y\n"));
}

// Nothing of the sleeper package is left.
void check_clean() {
    CHECK_EQ(module_loaded("lkp_sleeper_fix"), false);
    CHECK_EQ(read_required("/proc/navo_lkp_list"), std::string());
    CHECK(lkp_tmp_entries().empty());
}

// The thread holds the transition up past the signal: lkpctl names it with
// its kernel stack, disables and removes the patch, and fails.
void stalled_load_is_named_and_undone() {
    hold_the_thread();
    if (case_failed()) {
        return;  // no stall to see
    }
    const ToolRun run = run_lkpctl({"load", "--json", "--wait=3", SLEEPER_PKG});
    CHECK_EQ(run.status, 1);
    CHECK(has(run.out, "\"result\":-110"));
    CHECK(has(run.out, "\"completed\":false"));
    // Since 5.1 the kernel has no signal file (it signals stalled tasks
    // itself, after about 15 s): lkpctl says so and goes on waiting.
    CHECK(has(run.out,
              "\"signalled\":[],\"signal_failures\":[\"lkp_sleeper_fix: no signal "
              "file (this kernel signals stalled tasks itself)\"]"));
    CHECK(has(run.out, "\"stalled\":[\"lkp_sleeper_fix\"]"));
    CHECK(has(run.out, "\"comm\":\"lkp_sleeper\",\"patch_state\":0"));
    CHECK(has(run.out, "lkp_sleeper_hold"));
    CHECK(has(run.out, "\"reversal\":\"disabled and removed\""));
    if (!current_failures().empty()) {
        force_clean("sleeper.tar.gz", "lkp_sleeper_fix");
        record_failure(__FILE__, __LINE__, "lkpctl printed: " + run.out);
    }
    take_log();
    check_clean();
}

// Let go while lkpctl waits, the thread switches and the load succeeds;
// deactivation then waits for its own transition.
void released_thread_lets_the_load_complete() {
    std::thread releaser([] {
        std::this_thread::sleep_for(RELEASE_AFTER);
        write_op(HOLD, "0");
    });
    ToolRun run = run_lkpctl({"load", "--json", "--wait=60", SLEEPER_PKG});
    releaser.join();
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"result\":0"));
    CHECK(has(run.out, "\"completed\":true"));
    CHECK(has(run.out, "\"stalled\":[]"));
    run = run_lkpctl({"deactivate", "--json", "--wait=60", "sleeper.tar.gz"});
    CHECK_EQ(run.status, 0);
    CHECK(has(run.out, "\"completed\":true"));
    CHECK(wait_patch_gone("lkp_sleeper_fix"));
    run = run_lkpctl({"remove", "--json", "sleeper.tar.gz"});
    CHECK_EQ(run.status, 0);
    if (!current_failures().empty()) {
        force_clean("sleeper.tar.gz", "lkp_sleeper_fix");
    }
    take_log();
    check_clean();
}

void kernel_log_clean() {
    const std::string log = kernel_log();
    for (const char *bad : {"WARNING:", "BUG:", "Oops", "livepatch: failed"}) {
        CHECK(!has(log, bad));
    }
}

}  // namespace

void run_transition_cases(int repeats) {
    run_case("system log bound", [] { CHECK(open_log()); });
    const struct {
        const char *name;
        void (*body)();
    } cases[] = {
        {"stalled load is named and undone", stalled_load_is_named_and_undone},
        {"released thread lets the load complete", released_thread_lets_the_load_complete},
    };
    int passed[2] = {};
    for (int round = 1; round <= repeats; ++round) {
        for (int i = 0; i < 2; ++i) {
            passed[i] += run_case(std::string(cases[i].name) + " (" + std::to_string(round) + "/" +
                                      std::to_string(repeats) + ")",
                                  cases[i].body);
        }
    }
    for (int i = 0; i < 2; ++i) {
        report_repeats(cases[i].name, passed[i], repeats);
    }
    run_case("kernel log clean", kernel_log_clean);
}

}  // namespace guest
