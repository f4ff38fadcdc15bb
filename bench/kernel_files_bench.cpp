// Reading the kernel's files: get_patch_list and the consistency check
// against a control file of N records, served by the simulated kernel side.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "kernel/consistency.h"
#include "kernel/control_file.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "scene.h"

namespace {

// Reads the whole control file and lists the patches of the package whose
// records come last (PATCHES_PER_PACKAGE nodes, at most N).
void BM_GetPatchList(benchmark::State &state) {
    const lkpbench::Scene scene = lkpbench::arrange_records(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        tesvar::PatchList list;
        std::int32_t count = 0;
        if (!list || tesvar::get_patch_list(scene.last_package.c_str(), list.head(), &count) != 0 ||
            count == 0) {
            state.SkipWithError("get_patch_list failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetPatchList)->Apply(lkpbench::record_counts);

// Reads the control file and the state file and checks that they agree.
void BM_CheckRecordAvailable(benchmark::State &state) {
    const lkpbench::Scene scene = lkpbench::arrange_records(static_cast<int>(state.range(0)));
    char word[tesvar::STATE_SIZE];
    for (auto _ : state) {
        if (tesvar::check_record_available(scene.last_package.c_str(), word) != 0) {
            state.SkipWithError("check_record_available failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CheckRecordAvailable)->Apply(lkpbench::record_counts);

}  // namespace
