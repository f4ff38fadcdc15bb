// Runs a helper program (readelf, tar) for a test and hands back its output.
#ifndef LKPSIM_TESTS_RUN_CAPTURE_H
#define LKPSIM_TESTS_RUN_CAPTURE_H

#include <string>
#include <vector>

namespace lkpsim_test {

struct Captured {
    int status = -1;     // exit status; -1 when it could not run or did not exit
    std::string output;  // standard output and standard error, interleaved
};

// Runs args[0] (an absolute path) with args, an empty environment and no
// shell, and waits for it.
Captured run_capture(const std::vector<std::string> &args);

// Splits text into its lines, without the line feeds.
std::vector<std::string> lines_of(const std::string &text);

}  // namespace lkpsim_test

#endif
