// load_tesvar_kcore: the manager module is inserted only when its control
// file is missing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "kernel/modules.h"
#include "kernel_helpers.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using kerneltest::Lines;

class LoadTesvarKcore : public lkptest::KernelTest {};

bool control_file_present() {
    struct stat status {};
    return stat("/proc/navo_lkp_list", &status) == 0 && S_ISREG(status.st_mode);
}

TEST_F(LoadTesvarKcore, InsertsTheManagerOnlyWhenItsControlFileIsMissing) {
    const Lines failed = {kerneltest::err("load_tesvar_kcore: Failed to load tesvar.ko.")};
    struct Case {
        const char *what;
        lkpsim::Manager manager;
        int result;
        Lines history;
        Lines log;
        bool control_file_after;
    };
    const std::vector<Case> cases = {
        {"loaded", lkpsim::Manager::Loaded, 1, {}, {}, true},
        {"insertable", lkpsim::Manager::AbsentInsertable, 1, {"init tesvar 0"}, {}, true},
        {"refused", lkpsim::Manager::AbsentRefused, 0, {"init tesvar -1"}, failed, false},
        {"missing", lkpsim::Manager::AbsentMissing, 0, {}, failed, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lkpsim::reset();
        lkpsim::set_manager(c.manager);
        EXPECT_EQ(tesvar::load_tesvar_kcore(), c.result);
        EXPECT_EQ(lkpsim::history(), c.history);
        EXPECT_EQ(kerneltest::take_log(), c.log);
        EXPECT_EQ(control_file_present(), c.control_file_after);
    }
}

}  // namespace
