// What lkpctl makes the library log for a normal run: boot on a freshly
// booted kernel and activate of a package brought back from the store log
// successes only, never a failure that did not happen. Each run's log is
// compared line for line.

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const std::string LOADED = "[LKP-INFO]:LKP-LOAD:Success to load.";
const std::string ACTIVATED = "[LKP-INFO]:LKP-ACTIVATE:Success to activate.";
const std::string DEACTIVATED = "[LKP-INFO]:LKP-DEACTIVATE:Success to deactivate.";
const std::string ALREADY = "[LKP-INFO]:The pkg has already been activated before.";

std::string removed(const std::string &package) {
    return "[LKP-INFO]:LKP-REMOVE:Success to remove the " + package;
}

class LkpctlLogFactsTest : public ToolTest {
protected:
    // Installs a.tar.gz and c.tar.gz into the store under %D/root.
    void install_two() {
        build_simple("a.tar.gz", {"ext4"}, "afix_");
        build_simple("c.tar.gz", {"nfs"}, "cfix_");
        run_steps({{{"install", "--root", "%D/root", "%D/a.tar.gz", "%D/c.tar.gz"},
                    0,
                    "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n",
                    ""}});
        (void)lkpsim::take_log_texts();
    }
};

// The patch manager is not loaded at startup: boot's first load inserts it.
// Nothing is asked of the library before that, so nothing fails.
TEST_F(LkpctlLogFactsTest, BootOnAFreshKernelLogsOnlySuccesses) {
    install_two();
    lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
    run_steps({{{"boot", "--root", "%D/root"}, 0, "a.tar.gz: applied\nc.tar.gz: applied\n", ""}});
    // Upstream, a load enables the patches already.
    const std::vector<std::string> applied =
        lkpsim::upstream_by_default()
            ? std::vector<std::string>{LOADED, ALREADY, ACTIVATED, LOADED, ALREADY, ACTIVATED}
            : std::vector<std::string>{LOADED, ACTIVATED, LOADED, ACTIVATED};
    EXPECT_EQ(lkpsim::take_log_texts(), applied);
    // Again, with both active: nothing to do, and nothing logged.
    run_steps({{{"boot", "--root", "%D/root"},
                0,
                "a.tar.gz: already active\nc.tar.gz: already active\n",
                ""}});
    EXPECT_EQ(lkpsim::take_log_texts(), std::vector<std::string>{});
}

// Upstream frees a disabled patch: activate and boot bring the package back
// from the store, and the log shows the removal and the load, not a failed
// activation.
TEST_F(LkpctlLogFactsTest, PackageBroughtBackFromTheStoreLogsNoFailure) {
    lkpsim::set_enable_on_insert(true);
    install_two();
    run_steps({{{"boot", "--root", "%D/root"}, 0, "a.tar.gz: applied\nc.tar.gz: applied\n", ""},
               {{"deactivate", "a.tar.gz"}, 0, "a.tar.gz: deactivated\n", ""},
               {{"deactivate", "c.tar.gz"}, 0, "c.tar.gz: deactivated\n", ""}});
    EXPECT_EQ(lkpsim::take_log_texts(),
              (std::vector<std::string>{LOADED, ALREADY, ACTIVATED, LOADED, ALREADY, ACTIVATED,
                                        DEACTIVATED, DEACTIVATED}));
    const std::string freed = "the kernel freed the disabled patches of ";
    run_steps({{{"activate", "--root", "%D/root", "a.tar.gz"},
                0,
                "a.tar.gz: activated: " + freed + "a.tar.gz; removed and loaded again from " +
                    store() + "/a.tar.gz\n",
                ""}});
    EXPECT_EQ(lkpsim::take_log_texts(), (std::vector<std::string>{removed("a.tar.gz"), LOADED}));
    run_steps({{{"boot", "--root", "%D/root"},
                0,
                "a.tar.gz: already active\nc.tar.gz: reloaded (the kernel had freed its disabled "
                "patches)\n",
                ""}});
    EXPECT_EQ(lkpsim::take_log_texts(), (std::vector<std::string>{removed("c.tar.gz"), LOADED}));
    run_steps({{{"state", "c.tar.gz"}, 0, "enabled 5\n", ""}});
}

}  // namespace
}  // namespace lkptest
