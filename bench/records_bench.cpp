// Record parsing and the patch list: pure CPU work on the library's internal
// functions, no file access.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "kernel/patch_list.h"
#include "kernel/record.h"

namespace {

constexpr char CONTROL_LINE[] = "10,security_hotfix_2024_07.tar.gz,cve_2024_1086_nf_tables\n";
constexpr char STATE_LINE[] = "37\tcve_2024_1086_nf_tables\tenabled\n";

// parse_record cuts its line in place, so every iteration parses a fresh
// copy; the copy (a few dozen bytes) is part of the measured time.
template <std::size_t N>
void parse_line(benchmark::State &state, const char (&text)[N], int kind) {
    char line[N];
    tesvar::patch_record record{};
    for (auto _ : state) {
        std::memcpy(line, text, N);
        benchmark::DoNotOptimize(line);
        const int rc = tesvar::parse_record(&record, line, kind);
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    std::memcpy(line, text, N);
    if (tesvar::parse_record(&record, line, kind) != 0) {
        state.SkipWithError("parse_record refused the line");
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(N - 1));
}

void BM_ParseRecordControl(benchmark::State &state) {
    parse_line(state, CONTROL_LINE, tesvar::RECORD_CONTROL);
}
BENCHMARK(BM_ParseRecordControl);

void BM_ParseRecordState(benchmark::State &state) {
    parse_line(state, STATE_LINE, tesvar::RECORD_STATE);
}
BENCHMARK(BM_ParseRecordState);

// Builds a list of N nodes (one allocation and one name copy each) and frees
// it again, as get_patch_list and its caller do.
void BM_PatchListBuildFree(benchmark::State &state) {
    const int count = static_cast<int>(state.range(0));
    char name[tesvar::NAME_SIZE];
    for (auto _ : state) {
        tesvar::PatchList list;
        for (int i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "patch_%04d", i);
            tesvar::patch_node *node = tesvar::create_patch_node(name);
            if (node == nullptr) {
                state.SkipWithError("create_patch_node failed");
                break;
            }
            tesvar::list_add_tail(&node->list, list.head());
        }
        benchmark::DoNotOptimize(list.head()->prev);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_PatchListBuildFree)->Arg(10)->Arg(100)->Arg(1000)->ArgName("nodes");

}  // namespace
