// The main of every test executable: the simulated kernel side first (before
// any thread exists), then GoogleTest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host_probe.h"
#include "lkpsim/lkpsim.h"

namespace {

// A runner may start the tests with standard input (or output) closed; the
// first file a test opens would then take that number, and a program it
// starts would read or write that file. /dev/null stands in instead.
void open_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0) {
            const int opened = open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
}

// A program run on both kernel models runs twice at once under ctest; with
// an output directory ("xml:DIR/") both runs would pick the same report
// file, and one report could overwrite the other. The upstream run writes
// a file of its own.
void separate_report_of_kernel_model(const char *program) {
    const char *kernel = std::getenv("LKPSIM_KERNEL");
    std::string output = GTEST_FLAG_GET(output);
    if (kernel == nullptr || *kernel == '\0' || output.rfind("xml:", 0) != 0 ||
        output.back() != '/') {
        return;
    }
    const std::string path = program;
    const std::string base = path.substr(path.find_last_of('/') + 1);
    GTEST_FLAG_SET(output, output + base + "_" + kernel + ".xml");
}

}  // namespace

int main(int argc, char **argv) {
    open_standard_descriptors();
    // A host without what the simulated kernel side needs skips every test
    // with the reason (ctest: "Skipped"); CI counts such skips and fails a
    // tier whose every test was skipped.
    const std::string missing = lkptest::missing_host_feature();
    if (!missing.empty()) {
        std::printf("[  SKIPPED ] every test: %s\n", missing.c_str());
        return lkptest::SKIP_ALL_STATUS;
    }
    lkpsim::enter();
    // The C library opens its log connection at the first syslog() and keeps
    // it open; opening it now keeps that descriptor out of the per-test
    // descriptor check. Identity and facility stay the defaults.
    openlog(nullptr, LOG_NDELAY, 0);
    // Before InitGoogleTest, which sets the report up (an --gtest_output
    // argument still wins).
    separate_report_of_kernel_model(argv[0]);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // Closed again, so that a descriptor check at exit (valgrind
    // --track-fds) sees only what something else left open.
    closelog();
    return status;
}
