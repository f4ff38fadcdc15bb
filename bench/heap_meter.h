// The peak heap of one call: the C library's allocation functions are
// replaced in the benchmark executable (and so for libtesvar.so and the C
// library's own allocations, such as a stream's buffer) by counting ones.
// Only the allocations of the thread that measures count, so the simulated
// kernel side's log collector does not blur the figure.
#ifndef LKPBENCH_HEAP_METER_H
#define LKPBENCH_HEAP_METER_H

#include <cstddef>

namespace lkpbench {

// Whether the counting allocator is built in (not under a sanitizer, which
// brings its own allocator).
bool heap_meter_available();

// Starts counting this thread's allocations from zero.
void heap_meter_start();
// The highest number of bytes this thread held at once (usable sizes) since
// heap_meter_start(), beyond what it held then; counting stops.
std::size_t heap_meter_stop();

}  // namespace lkpbench

#endif
