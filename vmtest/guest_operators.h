// The operators' suite: the library and lkpctl used as operators and a
// device's services use them on a multi-core machine. Every command follows
// the one before at once (nothing waits for the kernel in between), the
// packages have three patches each, two callers run at once, boot runs as
// the service file runs it, a disabled package is activated again through
// the store, a cumulative patch replaces older ones, and the update module
// installs, rolls back and commits. Each scenario runs `repeats` times, the two
// long ones (boot through the store, the update module) `long_repeats` times.
#pragma once

namespace guest {

void run_operator_cases(int repeats, int long_repeats);

}  // namespace guest
