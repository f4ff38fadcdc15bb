// Failures that explain themselves: what the tool adds to a failed
// operation's result line so that the operator knows what to do.
#ifndef LKPCTL_EXPLAIN_H
#define LKPCTL_EXPLAIN_H

#include <cstdint>
#include <string>

#include "invocation.h"
#include "outcome.h"

namespace lkpctl {

// True when the patch manager's control file exists.
bool manager_loaded();

// "the patch manager module is not loaded ..." and how to load it.
std::string manager_missing();

// The first problem the offline check finds in the package file at path,
// as "<file>: <problem>"; empty when it finds none.
std::string package_problem(const std::string &path);

// Why loading the package file at path failed with result, beyond the
// result line: the package's first problem, which patches of an already
// loaded package are in, which module a unit needs (the first and the last
// without the package's name before them). Empty when there is nothing to
// add.
std::string load_failure_reason(const std::string &path, int32_t result);

// Adds the explanation of a failed subcommand to its details: the missing
// patch manager, or the package file's first problem.
void explain_failure(const Invocation &inv, Outcome *outcome);

}  // namespace lkpctl

#endif
