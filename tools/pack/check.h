// "lkpctl check": checks a package file offline, with the library's own
// package and unit checks, without touching the kernel.
#ifndef LKPCTL_CHECK_H
#define LKPCTL_CHECK_H

#include <string>

#include "command.h"
#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

extern const ValueOption CHECK_OPTIONS[];
extern const size_t CHECK_OPTION_COUNT;

Outcome run_check(const Invocation &inv);

// "PATH does not exist", or "PATH is not a regular file" when it does.
std::string missing_file(const std::string &path);

// The first problem the check finds in the package file at path, or "".
std::string first_check_problem(const std::string &path);

}  // namespace lkpctl

#endif
