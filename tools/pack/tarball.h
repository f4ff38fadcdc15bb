// Reproducible gzip-compressed tar archives: the same tree gives the same
// bytes, whoever makes it and whenever.
#ifndef LKPCTL_TARBALL_H
#define LKPCTL_TARBALL_H

#include <string>

#include "step_result.h"

namespace lkpctl {

// Archives parent/entry (with the entry's own name at the top) and writes it,
// gzip-compressed, to out_fd. work_tar is a scratch path for the plain tar,
// removed afterwards. Modes are archived as they are: set them first.
StepResult write_tar_gz(const std::string &parent, const std::string &entry,
                        const std::string &work_tar, int out_fd);

}  // namespace lkpctl

#endif
