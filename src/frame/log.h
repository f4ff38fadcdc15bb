// The log channel: every diagnostic of the library goes to the system log
// through lkp_log, one whole line per call.
#ifndef TESVAR_FRAME_LOG_H
#define TESVAR_FRAME_LOG_H

namespace tesvar {

constexpr int LKP_INFO = 0;
constexpr int LKP_ERR = 1;
constexpr int MAX_LOG_SIZE = 512;

// Formats the message (at most MAX_LOG_SIZE - 1 characters) and sends it to
// syslog at LOG_INFO with the level's prefix. A message that does not fit is
// dropped and reported on standard output.
void lkp_log(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tesvar

#endif
