// Scene arrangement and log draining for the benchmarks.
#include "scene.h"

#include <cstdio>

#include "lkpsim/lkpsim.h"

namespace lkpbench {

namespace {

std::string numbered(const char *format, int number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

}  // namespace

Scene arrange_records(int n) {
    lkpsim::reset();
    Scene scene;
    for (int i = 0; i < n; ++i) {
        const int package = i / PATCHES_PER_PACKAGE + 1;
        const int in_package = i % PATCHES_PER_PACKAGE;
        const std::string pkg = numbered("pkg%04d.tar.gz", package);
        const std::string patch = numbered("patch_%04d", i + 1);
        lkpsim::insert_patch(patch, {in_package == 0 ? COVERED_MODULE : "vmlinux"});
        lkpsim::register_patch(PATCHES_PER_PACKAGE, pkg, patch);
        lkpsim::set_patch_state(patch, i % 2 == 0 ? "enabled" : "disabled");
        if (scene.first_package.empty()) {
            scene.first_package = pkg;
        }
        scene.last_package = pkg;
    }
    lkpsim::clear_history();
    lkpsim::take_log();
    return scene;
}

void record_counts(benchmark::internal::Benchmark *bench) {
    bench->Arg(10)->Arg(100)->Arg(1000)->ArgName("records");
}

LogDrain::~LogDrain() {
    lkpsim::take_log();
}

void LogDrain::drain() {
    state_.PauseTiming();
    lkpsim::take_log();
    state_.ResumeTiming();
}

}  // namespace lkpbench
