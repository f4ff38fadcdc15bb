// Scenes arranged directly on the simulated kernel side for the benchmarks,
// and the draining of the captured system log.
#ifndef LKPBENCH_SCENE_H
#define LKPBENCH_SCENE_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace lkpbench {

// Patches per package in an arranged scene.
constexpr int PATCHES_PER_PACKAGE = 10;
// The module that the first patch of every package patches (the others
// patch "vmlinux").
constexpr const char *COVERED_MODULE = "ext4";

struct Scene {
    std::string last_package;  // the package whose records come last
    std::string first_package;
};

// Back to the default kernel, then n patches inserted and registered in
// packages of PATCHES_PER_PACKAGE ("pkg0001.tar.gz" ...), alternately
// enabled and disabled; history and log cleared.
Scene arrange_records(int n);

// The record counts of the file-reading benchmarks.
void record_counts(benchmark::internal::Benchmark *bench);

// Empties the captured system log every `period` ticks, with the timer
// paused, and once more when it goes out of scope, so that the capture does
// not grow without bound.
class LogDrain {
public:
    LogDrain(benchmark::State &state, std::int64_t period) : state_(state), period_(period) {}
    LogDrain(const LogDrain &) = delete;
    LogDrain &operator=(const LogDrain &) = delete;
    ~LogDrain();

    void tick() {
        if (++ticks_ % period_ == 0) {
            drain();
        }
    }

private:
    void drain();

    benchmark::State &state_;
    std::int64_t period_;
    std::int64_t ticks_ = 0;
};

}  // namespace lkpbench

#endif
