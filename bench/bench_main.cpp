// The main of every benchmark executable: the simulated kernel side first
// (before any thread exists), then Google Benchmark.
#include <benchmark/benchmark.h>
#include <syslog.h>

#include "lkpsim/lkpsim.h"

int main(int argc, char **argv) {
    lkpsim::enter();
    // Opens the log connection now, so that the first timed syslog() does
    // not pay for it.
    openlog(nullptr, LOG_NDELAY, 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    lkpsim::reset();
    return 0;
}
