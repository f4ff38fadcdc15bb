#include "guest_checks.h"

#include <time.h>

#include <cstdio>
#include <cstring>

namespace guest {

namespace {
std::vector<std::string> failures;
int failed_cases = 0;
int passed_cases = 0;
int expected_failures = 0;

}  // namespace

long now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

std::vector<std::string> &current_failures() {
    return failures;
}

void record_failure(const char *file, int line, const std::string &what) {
    failures.push_back(std::string(file) + ":" + std::to_string(line) + ": " + what);
}

bool case_failed() {
    return !failures.empty();
}

void measure(const std::string &what, long milliseconds) {
    (void)std::printf("LKPVM-MEASURE: %s: %ld ms\n", what.c_str(), milliseconds);
    (void)std::fflush(stdout);
}

bool run_case(const std::string &case_name, const std::function<void()> &body,
              const char *known_defect) {
    const char *name = case_name.c_str();
    failures.clear();
    (void)std::printf("LKPVM-CASE: %s\n", name);
    (void)std::fflush(stdout);
    const long start = now_ms();
    body();
    (void)std::printf("LKPVM-TIME: %s: %ld ms\n", name, now_ms() - start);
    const bool known = known_defect[0] != '\0';
    for (const std::string &f : failures) {
        std::printf("LKPVM-%s: %s: %s\n", known ? "XFAIL-DETAIL" : "FAIL", name, f.c_str());
    }
    if (known && !failures.empty()) {
        ++expected_failures;
        std::printf("LKPVM-XFAIL: %s: %s\n", name, known_defect);
    } else if (known) {
        ++failed_cases;
        std::printf("LKPVM-FAIL: %s: passes now; remove its known-defect mark (%s)\n", name,
                    known_defect);
    } else if (!failures.empty()) {
        ++failed_cases;
    } else {
        ++passed_cases;
    }
    (void)std::fflush(stdout);
    return !known && failures.empty();
}

void report_repeats(const std::string &scenario, int passed, int runs) {
    (void)std::printf("LKPVM-REPEAT: %s: %d of %d passed\n", scenario.c_str(), passed, runs);
    (void)std::fflush(stdout);
}

void report_counts(const std::string &what, const std::string &counts) {
    (void)std::printf("LKPVM-MEASURE: %s: %s\n", what.c_str(), counts.c_str());
    (void)std::fflush(stdout);
}

std::string error_text(int error) {
    char buffer[128];
    return strerror_r(error, buffer, sizeof buffer);
}

int verdict() {
    (void)std::printf("LKPVM-VERDICT: %s (%d passed, %d failed, %d known defects)\n",
                      failed_cases == 0 ? "PASS" : "FAIL", passed_cases, failed_cases,
                      expected_failures);
    (void)std::fflush(stdout);
    return failed_cases == 0 ? 0 : 1;
}

}  // namespace guest
