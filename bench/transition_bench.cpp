// How soon lkpctl's transition wait notices that a transition has ended:
// the simulated task is released at a set moment while the wait polls, and
// each iteration's time is from that moment to the wait's return.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "lkpsim/lkpsim.h"
#include "transition_wait.h"

namespace {

constexpr int TASK = 4100009;
const std::string PATCH = "fix_bench";

bool switch_on(const char *value) {
    FILE *file = std::fopen(("/sys/kernel/livepatch/" + PATCH + "/enabled").c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fputs(value, file) >= 0;
    return std::fclose(file) == 0 && written;
}

// Arg: milliseconds from the start of the wait to the end of the transition.
void BM_TransitionEndNoticed(benchmark::State &state) {
    using Clock = std::chrono::steady_clock;
    const auto end_after = std::chrono::milliseconds(state.range(0));
    lkpctl::TransitionWaitLimits limits;
    limits.timeout_seconds = 10;
    limits.grace_seconds = 10;
    for (auto _ : state) {
        lkpsim::reset();
        lkpsim::insert_patch(PATCH);
        lkpsim::set_transition_scene(lkpsim::TransitionScene::UntilReleased);
        lkpsim::add_task(TASK, "sleeper", "");
        if (!switch_on("1")) {
            state.SkipWithError("the enabled switch was refused");
            break;
        }
        const Clock::time_point ends = Clock::now() + end_after;
        lkpsim::release_task_after(TASK, static_cast<int>(state.range(0)));
        const lkpctl::TransitionReport report =
            lkpctl::wait_for_transitions({PATCH}, limits, [](const lkpctl::TransitionEvent &) {});
        const double late = std::chrono::duration<double>(Clock::now() - ends).count();
        if (!report.completed) {
            state.SkipWithError("the transition did not end");
            break;
        }
        state.SetIterationTime(late);
    }
    lkpsim::reset();
}
BENCHMARK(BM_TransitionEndNoticed)
    ->Arg(0)
    ->Arg(5)
    ->Arg(40)
    ->Arg(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
