// Whole operations on patch packages through libtesvar.so: a load followed
// by a removal, and an activation followed by a deactivation.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"
#include "scene.h"
#include "tesvar.h"

namespace {

// A package file of `units` well-formed units, built on first use in a
// scratch directory outside /tmp and kept for the whole run.
struct Package {
    std::string path;
    std::string name;  // the file name, which names the loaded package
};

const Package &package_of(int units) {
    static std::map<int, Package> built;
    auto found = built.find(units);
    if (found != built.end()) {
        return found->second;
    }
    const std::string dir = lkpsim::scratch_root() + "/bench_packages";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::string name = "bench_u" + std::to_string(units) + ".tar.gz";
    const std::string prefix = "bench_u" + std::to_string(units) + "_fix_";
    Package package{lkpsim::build_package(lkpsim::simple_package(name, units, prefix), dir), name};
    return built.emplace(units, package).first->second;
}

void unit_counts(benchmark::internal::Benchmark *bench) {
    bench->Arg(1)->Arg(4)->Arg(16)->ArgName("units")->Unit(benchmark::kMillisecond);
}

// Extracts the package and its units into a temporary directory, inserts
// and registers every unit's module, then removes them all again.
void BM_LoadRemove(benchmark::State &state) {
    const Package &package = package_of(static_cast<int>(state.range(0)));
    if (package.path.empty()) {
        state.SkipWithError("cannot build the package");
        return;
    }
    lkpsim::reset();
    lkpbench::LogDrain drain(state, 64);
    for (auto _ : state) {
        if (navo_lkp_load(package.path.c_str()) != 0) {
            state.SkipWithError("navo_lkp_load failed");
            break;
        }
        if (navo_lkp_remove(package.name.c_str()) != 0) {
            state.SkipWithError("navo_lkp_remove failed");
            break;
        }
        drain.tick();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadRemove)->Apply(unit_counts);

// Enables every patch of a loaded package, then disables them again.
void BM_ActivateDeactivate(benchmark::State &state) {
    const Package &package = package_of(static_cast<int>(state.range(0)));
    lkpsim::reset();
    if (package.path.empty() || navo_lkp_load(package.path.c_str()) != 0) {
        state.SkipWithError("cannot load the package");
        return;
    }
    {
        lkpbench::LogDrain drain(state, 256);
        for (auto _ : state) {
            if (navo_lkp_activate(package.name.c_str()) != 0 ||
                navo_lkp_deactivate(package.name.c_str()) != 0) {
                state.SkipWithError("activation or deactivation failed");
                break;
            }
            drain.tick();
        }
    }
    if (navo_lkp_remove(package.name.c_str()) != 0) {
        state.SkipWithError("navo_lkp_remove failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ActivateDeactivate)->Apply(unit_counts);

}  // namespace
