// A minimal check harness for the guest: the guest has no test runner, and
// its verdict has to reach the host through the serial console as plain
// lines. Each case collects its failed checks; a case marked as a known
// defect of the library must fail (XFAIL) and fails the run when it passes,
// so the mark cannot outlive the defect.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace guest {

// The failures of the running case; the CHECK macros append to it.
std::vector<std::string> &current_failures();

void record_failure(const char *file, int line, const std::string &what);

// Runs one case; `known_defect` names the library defect that makes it fail
// today, or is empty for a case that must pass. The case's wall time goes to
// the console as an LKPVM-TIME line, for reading only. True when the case
// passed (a known defect's expected failure is not a pass).
bool run_case(const std::string &name, const std::function<void()> &body,
              const char *known_defect = "");

// How many of a repeated scenario's runs passed (an LKPVM-REPEAT line, so
// the console shows the repeat count; the cases carry the verdict).
void report_repeats(const std::string &scenario, int passed, int runs);

// Whether the running case has failed so far.
bool case_failed();

// The monotonic clock in milliseconds, for measurements.
long now_ms();

// A measurement for the report (an LKPVM-MEASURE line); never a verdict.
void measure(const std::string &what, long milliseconds);

// The C library's text for an error number; safe beside other threads.
std::string error_text(int error);

// Counts for the report (an LKPVM-MEASURE line); never a verdict.
void report_counts(const std::string &what, const std::string &counts);

// Prints the verdict line the host harness looks for; returns the exit status.
int verdict();

}  // namespace guest

#define GUEST_STR(x) #x
#define CHECK(cond)                                           \
    do {                                                      \
        if (!(cond))                                          \
            guest::record_failure(__FILE__, __LINE__, #cond); \
    } while (0)
#define CHECK_EQ(actual, expected)                                                 \
    do {                                                                           \
        const auto &check_a_ = (actual);                                           \
        const auto &check_e_ = (expected);                                         \
        if (!(check_a_ == check_e_))                                               \
            guest::record_failure(__FILE__, __LINE__,                              \
                                  std::string(#actual " == " #expected ": got ") + \
                                      guest::show(check_a_) + ", expected " +      \
                                      guest::show(check_e_));                      \
    } while (0)

namespace guest {
inline std::string show(int v) {
    return std::to_string(v);
}
// Quoted on one console line: newlines and TABs are shown escaped.
inline std::string show(const std::string &v) {
    std::string text = "\"";
    for (const char c : v) {
        text += c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t") : std::string(1, c);
    }
    return text + "\"";
}
inline std::string show(const char *v) {
    return v ? show(std::string(v)) : "null";
}
inline std::string show(bool v) {
    return v ? "true" : "false";
}
inline std::string show(const std::vector<std::string> &lines) {
    std::string text = "{";
    for (const std::string &line : lines) {
        text += (text.size() > 1 ? ", " : "") + show(line);
    }
    return text + "}";
}
}  // namespace guest
