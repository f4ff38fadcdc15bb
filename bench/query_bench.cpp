// Queries through libtesvar.so against a control file of N records: a
// package's state and the package that last patched a module.
#include <benchmark/benchmark.h>

#include <string>

#include "scene.h"
#include "tesvar.h"

namespace {

constexpr int STATE_ENABLED = 5;
constexpr int STATE_DISABLED = 2;

// Reads both kernel files, checks them and yields the last package's state.
void BM_State(benchmark::State &state) {
    const lkpbench::Scene scene = lkpbench::arrange_records(static_cast<int>(state.range(0)));
    lkpbench::LogDrain drain(state, 1024);
    for (auto _ : state) {
        const int rc = navo_lkp_state(scene.last_package.c_str());
        if (rc != STATE_ENABLED && rc != STATE_DISABLED) {
            state.SkipWithError("navo_lkp_state found no valid state");
            break;
        }
        drain.tick();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_State)->Apply(lkpbench::record_counts);

// Scans every record and looks for the patch's module directory under
// /sys/kernel/livepatch (one directory open per record).
void BM_LastPatchForModule(benchmark::State &state) {
    const lkpbench::Scene scene = lkpbench::arrange_records(static_cast<int>(state.range(0)));
    lkpbench::LogDrain drain(state, 1024);
    char owner[64];
    for (auto _ : state) {
        if (navo_lkp_last_patch_for_module(lkpbench::COVERED_MODULE, owner, sizeof owner) != 0 ||
            scene.last_package != owner) {
            state.SkipWithError("navo_lkp_last_patch_for_module failed");
            break;
        }
        drain.tick();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LastPatchForModule)->Apply(lkpbench::record_counts);

}  // namespace
