// The result of one step of a multi-step subcommand: a result code (0 for
// success, a negated errno for a system failure) and what went wrong.
#ifndef LKPCTL_STEP_RESULT_H
#define LKPCTL_STEP_RESULT_H

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace lkpctl {

struct StepResult {
    int32_t code = 0;
    std::string detail;

    bool ok() const { return code == 0; }
};

inline StepResult step_failed(int32_t code, std::string detail) {
    return StepResult{code, std::move(detail)};
}

// A system call's failure: the negated errno, and "what: <errno text>".
inline StepResult errno_failure(const std::string &what, int error) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): lkpctl runs one thread.
    return step_failed(-error, what + ": " + std::strerror(error));
}

}  // namespace lkpctl

#endif
