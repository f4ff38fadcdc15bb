// Standard input, output and error always open: a descriptor 0, 1 or 2 that
// the tool was started without is opened on /dev/null first thing, or the
// first file the tool opens (its lock, a package, the simulator's state)
// would take its number and receive the report.
#ifndef LKPCTL_STANDARD_STREAMS_H
#define LKPCTL_STANDARD_STREAMS_H

namespace lkpctl {

// False when a closed one could not be opened on /dev/null.
bool open_missing_standard_streams();

}  // namespace lkpctl

#endif
