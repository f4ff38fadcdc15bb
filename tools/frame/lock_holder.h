// Who holds a flock, and whether it can let go: a holder stopped by job
// control (Ctrl-Z, SIGSTOP) keeps its lock until someone resumes it, so a
// wait for that lock would never end.
#ifndef LKPCTL_LOCK_HOLDER_H
#define LKPCTL_LOCK_HOLDER_H

#include <sys/types.h>

namespace lkpctl {

// The process holding a flock on the file open at fd (from /proc/locks, in
// this process's view of pids), or -1 when none can be told.
pid_t flock_holder(int fd);

// Whether the process is stopped by job control (state T in /proc/PID/stat);
// a process a tracer holds (state t) is not counted: it moves on by itself.
bool stopped_by_job_control(pid_t pid);

}  // namespace lkpctl

#endif
