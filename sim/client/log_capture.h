// The system log of the namespace: a datagram socket at /dev/log owned by
// the process that entered, drained continuously by a collector thread. The
// socket's queue holds only net.unix.max_dgram_qlen datagrams (10 here), and
// a sender blocks when it is full, so waiting for take() to drain it would
// deadlock a library call that logs more lines than that.
#ifndef LKPSIM_LOG_CAPTURE_H
#define LKPSIM_LOG_CAPTURE_H

#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace lkpsim {

// Binds /dev/log and starts the collector; false with a reason on failure.
bool start_log_capture(std::string *error);
// Every line received so far, in order, including every line whose send
// returned before this call; the capture is emptied.
std::vector<LogLine> take_captured_log();

}  // namespace lkpsim

#endif
