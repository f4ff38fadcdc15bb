// The store's directory, <root>/var/lib/tesvar/<release>/, held open: every
// file in it is reached relative to that descriptor, never through a path
// again. Each directory on the way under the root is opened with O_NOFOLLOW
// (a symbolic link there is refused), files are opened with O_NOFOLLOW and
// O_NONBLOCK and then checked to be regular files (a link, FIFO, device or
// directory in their place is refused without blocking), and only regular
// files are ever removed. Every change is atomic: a temporary name, fsync,
// rename, fsync of the directory.
#ifndef LKPCTL_STORE_DIR_H
#define LKPCTL_STORE_DIR_H

#include <string>
#include <vector>

#include "step_result.h"
#include "sys/owned_fd.h"

namespace lkpctl {

class StoreDir {
public:
    // Opens the store of release under root (root itself may be a link:
    // the operator names it). With create, missing directories are made
    // (mode 0755); without, a missing store is no failure: exists() is false.
    StepResult open(const std::string &root, const std::string &release, bool create);

    bool exists() const { return dir_.valid(); }
    // The store's path, for messages.
    const std::string &path() const { return path_; }

    // The whole regular file name; *missing (and success) when there is none.
    StepResult read(const std::string &name, std::string *bytes, bool *missing) const;
    // Success when name is a regular file; *missing when there is none.
    StepResult check_regular(const std::string &name, bool *missing) const;
    // Replaces name with bytes atomically. LKPCTL_FAULT_AT=N (tests only) ends
    // the process abruptly at the N-th step of the tool's store writes, as a
    // power cut would.
    StepResult write_atomically(const std::string &name, const std::string &bytes) const;
    // Removes name when it is a regular file; a missing one is no failure.
    StepResult remove(const std::string &name) const;
    StepResult sync() const;
    // The names of the regular files in the store.
    std::vector<std::string> regular_files() const;

private:
    // Opens the directory name under the one held (made first with create);
    // *path, the path so far for messages, gets name appended.
    StepResult open_step(const std::string &name, bool create, std::string *path);

    tesvar::Fd dir_;
    std::string path_;
};

}  // namespace lkpctl

#endif
