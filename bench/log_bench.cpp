// The log channel: one formatted line through lkp_log to the system log,
// which the simulated kernel side captures.
#include <benchmark/benchmark.h>

#include "frame/log.h"
#include "lkpsim/lkpsim.h"
#include "scene.h"

namespace {

void BM_LkpLog(benchmark::State &state) {
    lkpsim::reset();
    lkpbench::LogDrain drain(state, 4096);
    int number = 0;
    for (auto _ : state) {
        tesvar::lkp_log(tesvar::LKP_INFO, "benchmark line %d of %s\n", ++number, "lkp_log");
        drain.tick();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LkpLog);

}  // namespace
