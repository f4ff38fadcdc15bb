// Commands cut off half-way (a killed deactivation, an operator's Ctrl-C
// during remove) and what the next command makes of that, on both kernel
// models, each run as a subprocess on the simulated kernel side.

#include <cerrno>
#include <cstdio>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

constexpr const char *FREED = "the kernel freed the disabled patches of a.tar.gz";

// Writes text to a patch's enabled switch, as the library does: 0, or the errno.
int switch_patch(const std::string &patch, const char *text) {
    const std::string path = "/sys/kernel/livepatch/" + patch + "/enabled";
    FILE *stream = std::fopen(path.c_str(), "we");
    if (stream == nullptr) {
        return errno;
    }
    const bool written = std::fputs(text, stream) >= 0;
    return std::fclose(stream) == 0 && written ? 0 : errno;
}

class LkpctlCutOffTest : public ToolTest {
protected:
    // a.tar.gz of three patches installed and applied by boot, then its
    // deactivation cut off after two of them (it goes last to first): on
    // an upstream kernel those two are freed, the first stays enabled.
    void half_deactivated() {
        build_simple("a.tar.gz", {"ext4", "nfs", "ext4"}, "afix_");
        run_steps({{{"install", "--root", "%D/root", "%D/a.tar.gz"},
                    0,
                    "a.tar.gz: installed\nboot order: a.tar.gz\n",
                    ""},
                   {{"boot", "--root", "%D/root"}, 0, "a.tar.gz: applied\n", ""}});
        ASSERT_EQ(switch_patch("afix_3", "0"), 0);
        ASSERT_EQ(switch_patch("afix_2", "0"), 0);
        ASSERT_EQ(lkpsim::patch_state("afix_1"), "enabled");
        ASSERT_EQ(lkpsim::records().size(), 3u);
    }
    void expect_whole_and_enabled() {
        EXPECT_EQ(lkpsim::records().size(), 3u);
        for (const char *patch : {"afix_1", "afix_2", "afix_3"}) {
            EXPECT_EQ(lkpsim::patch_state(patch), "enabled") << patch;
            EXPECT_TRUE(lkpsim::module_inserted(patch)) << patch;
        }
    }
};

// boot brings the package back whole: upstream by taking it out (its
// enabled first patch disabled before the removal) and loading it again.
TEST_F(LkpctlCutOffTest, BootMendsAPackageWhoseDeactivationWasCutOff) {
    half_deactivated();
    const std::string line =
        lkpsim::upstream_by_default()
            ? "a.tar.gz: reloaded (the kernel had freed its disabled patches)\n"
            : "a.tar.gz: activated\n";
    run_steps({{{"boot", "--root", "%D/root"}, 0, line, ""},
               {{"state", "a.tar.gz"}, 0, "enabled 5\n", ""}});
    expect_whole_and_enabled();
}

// activate does the same from the store.
TEST_F(LkpctlCutOffTest, ActivateMendsAPackageWhoseDeactivationWasCutOff) {
    half_deactivated();
    const std::string line = lkpsim::upstream_by_default()
                                 ? "a.tar.gz: activated: " + std::string(FREED) +
                                       "; removed and loaded again from " + store() + "/a.tar.gz\n"
                                 : "a.tar.gz: activated\n";
    run_steps({{{"activate", "--root", "%D/root", "a.tar.gz"}, 0, line, ""},
               {{"state", "a.tar.gz"}, 0, "enabled 5\n", ""}});
    expect_whole_and_enabled();
}

// status says that the package's fix is only half in force, and exits 3.
TEST_F(LkpctlCutOffTest, StatusReportsAHalfSwitchedPackage) {
    half_deactivated();
    const std::string finding =
        "a.tar.gz is half switched (1 of 3 patches enabled): lkpctl boot mends it when it is "
        "installed; else lkpctl activate or deactivate it";
    const ToolRun text = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(text.status, 3) << text.out << text.err;
    EXPECT_EQ(text.out.substr(0, text.out.find('\n') + 1), "needs an operator: " + finding + "\n");
    EXPECT_NE(text.out.find("needs an operator:\n  " + finding + "\n"), std::string::npos)
        << text.out;
    const ToolRun json = lkpctl({"status", "--json", "--root", "%D/root"});
    EXPECT_EQ(json.status, 3) << json.out << json.err;
    EXPECT_NE(
        json.out.find(R"({"kind":"half-switched","package":"a.tar.gz","text":")" + finding + "\"}"),
        std::string::npos)
        << json.out;
    const ToolRun boot = lkpctl({"boot", "--root", "%D/root"});
    EXPECT_EQ(boot.status, 0) << boot.out << boot.err;
    const ToolRun mended = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(mended.status, 0) << mended.out << mended.err;
}

// A killed load leaves patch modules without their record, here one of
// a.tar.gz and one of a package not installed; either makes the library
// refuse every package (the state file has a line too many). boot takes
// both away first, as repair would, and then applies the store.
TEST_F(LkpctlCutOffTest, BootRemovesWhatKilledLoadsLeftFirst) {
    build_simple("a.tar.gz", {"ext4", "nfs"}, "afix_");
    build_simple("c.tar.gz", {"nfs"}, "cfix_");
    run_steps({{{"install", "--root", "%D/root", "%D/a.tar.gz", "%D/c.tar.gz"},
                0,
                "a.tar.gz: installed\nc.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n",
                ""}});
    lkpsim::insert_patch("afix_1", {"ext4"});
    lkpsim::insert_patch("zfix_9");
    run_steps({{{"state", "a.tar.gz"},
                1,
                "invalid 9\n",
                "lkpctl: state: the kernel's record files cannot be read, disagree, or give a "
                "state word outside enabled, disabled and unknown (run with -v for the "
                "reasons)\nlkpctl: state: 9: No valid state.\n"},
               {{"boot", "--root", "%D/root"},
                0,
                "orphan patch module afix_1: removed\norphan patch module zfix_9: removed\n"
                "a.tar.gz: applied\nc.tar.gz: applied\n",
                ""},
               {{"state", "a.tar.gz"}, 0, "enabled 5\n", ""}});
    EXPECT_EQ(lkpsim::records().size(), 3u);
    EXPECT_FALSE(lkpsim::module_inserted("zfix_9"));
    const ToolRun status = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(status.status, 0) << status.out << status.err;
}

// A removal killed between taking out a module and its "rm" line leaves the
// record without its module (the state file has a line too few), and the
// library refuses every package. status names it.
class LkpctlRecordWithoutModuleTest : public LkpctlCutOffTest {
protected:
    void SetUp() override {
        LkpctlCutOffTest::SetUp();
        build_simple("a.tar.gz", {"ext4", "nfs", "ext4"}, "afix_");
        run_steps({{{"install", "--root", "%D/root", "%D/a.tar.gz"},
                    0,
                    "a.tar.gz: installed\nboot order: a.tar.gz\n",
                    ""},
                   {{"boot", "--root", "%D/root"}, 0, "a.tar.gz: applied\n", ""},
                   {{"deactivate", "a.tar.gz"}, 0, "a.tar.gz: deactivated\n", ""},
                   {{"rmmod", "afix_3"}, 0, "afix_3: removed\n", ""}});
        ASSERT_EQ(lkpsim::records().size(), 3u);
        const ToolRun status = lkpctl({"status", "--root", "%D/root"});
        EXPECT_EQ(status.status, 3) << status.out << status.err;
        EXPECT_EQ(status.err, "");
        for (const char *finding :
             {"the control and state files disagree because of the leftovers below",
              "the record of afix_3 (a.tar.gz) has no module in the kernel",
              "    afix_3  unknown\n"}) {
            EXPECT_NE(status.out.find(finding), std::string::npos) << finding << "\n" << status.out;
        }
    }
};

// repair writes the missing line; the package, then partial, goes whole.
TEST_F(LkpctlRecordWithoutModuleTest, RepairRemovesTheRecordAndThePackage) {
    run_steps({{{"repair"},
                0,
                "record of afix_3 (a.tar.gz) without its module: removed\n"
                "partial package a.tar.gz (2 of 3 patches): removed\n",
                ""}});
    EXPECT_TRUE(lkpsim::records().empty());
    for (const char *patch : {"afix_1", "afix_2", "afix_3"}) {
        EXPECT_FALSE(lkpsim::module_inserted(patch)) << patch;
    }
}

// boot writes it too, and loads the package again from the store.
TEST_F(LkpctlRecordWithoutModuleTest, BootLoadsThePackageAgain) {
    run_steps({{{"boot", "--root", "%D/root"},
                0,
                "record of afix_3 (a.tar.gz) without its module: removed\n"
                "a.tar.gz: reloaded (was partially loaded: 2 of 3 patches)\n",
                ""}});
    expect_whole_and_enabled();
}

}  // namespace
}  // namespace lkptest
