// The main of every test executable: the simulated kernel side first (before
// any thread exists), then GoogleTest.
#include <gtest/gtest.h>
#include <syslog.h>

#include "lkpsim/lkpsim.h"

int main(int argc, char **argv) {
    lkpsim::enter();
    // The C library opens its log connection at the first syslog() and keeps
    // it open; opening it now keeps that descriptor out of the per-test
    // descriptor check. Identity and facility stay the defaults.
    openlog(nullptr, LOG_NDELAY, 0);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // Closed again, so that a descriptor check at exit (valgrind
    // --track-fds) sees only what something else left open.
    closelog();
    return status;
}
