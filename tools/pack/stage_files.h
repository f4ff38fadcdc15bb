// File-system steps of building a package tree. Each sets its mode
// explicitly (directories 0755, files 0644), so that the archives made from
// the tree do not depend on the umask or on the modes of the inputs.
#ifndef LKPCTL_STAGE_FILES_H
#define LKPCTL_STAGE_FILES_H

#include <string>

#include "step_result.h"
#include "sys/owned_fd.h"

namespace lkpctl {

StepResult make_dir(const std::string &path);
StepResult copy_file(const std::string &from, const std::string &to);
StepResult write_text_file(const std::string &path, const std::string &text);

// Creates path (it must not exist) for writing into *fd.
StepResult create_file(const std::string &path, tesvar::Fd *fd);

}  // namespace lkpctl

#endif
