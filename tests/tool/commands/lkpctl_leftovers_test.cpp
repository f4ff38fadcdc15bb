// What a crash leaves (an orphan patch module, a partial package, a stale
// /tmp/lkp_* directory): reported by status (text, JSON, exit status 1) and
// removed by repair, each arranged directly on the simulated kernel side.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const std::string CLEANING = "Structure needs cleaning";

class LkpctlLeftoversTest : public ToolTest {
protected:
    void TearDown() override {
        if (!stale_.empty()) {
            (void)rmdir(stale_.c_str());
        }
        ToolTest::TearDown();
    }
    // A crash's leftovers: orphan_1 without a record, part.tar.gz with 1
    // of its 3 patches, and a temporary directory nobody holds.
    void arrange() {
        lkpsim::insert_patch("orphan_1");
        lkpsim::insert_patch("part_1");
        lkpsim::register_patch(3, "part.tar.gz", "part_1");
        char stale[] = "/tmp/lkp_XXXXXX";
        ASSERT_NE(mkdtemp(stale), nullptr);
        stale_ = stale;
    }
    std::string stale_;
};

TEST_F(LkpctlLeftoversTest, StatusReportsThemAndRepairRemovesThem) {
    arrange();
    const ToolRun status = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(status.status, 3) << status.err;
    const std::string orphan =
        "patch module orphan_1 is in the kernel without a record (a load killed between its "
        "insertion and registration): lkpctl repair removes it";
    const std::string tmp =
        stale_ + " was left by a killed load: lkpctl repair (or the next load, or boot) removes it";
    EXPECT_NE(status.out.find("\n  " + orphan + "\n"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("\n  " + tmp + "\n"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("\n  part.tar.gz is partially loaded (1 of 3 patches)"),
              std::string::npos)
        << status.out;
    EXPECT_EQ(status.err, "");
    const ToolRun json = lkpctl({"--json", "status", "--root", "%D/root"});
    EXPECT_EQ(json.status, 3);
    EXPECT_NE(json.out.find(R"({"kind":"orphan-patch","package":null,"text":")" + orphan + "\"}"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find(R"({"kind":"stale-tmp","package":null,"text":")" + tmp + "\"}"),
              std::string::npos)
        << json.out;
    EXPECT_TRUE(lkpsim::history().empty()) << "status changes nothing";
    EXPECT_EQ(access(stale_.c_str(), F_OK), 0);

    run_steps({{{"repair"},
                0,
                "orphan patch module orphan_1: removed\n"
                "partial package part.tar.gz (1 of 3 patches): removed\n"
                "stale temporary directory " +
                    stale_ + ": removed\n",
                ""}});
    // Upstream the insertions enabled the patches: each is switched off first.
    const bool upstream = lkpsim::upstream_by_default();
    std::vector<std::string> repaired;
    for (const char *patch : {"orphan_1", "part_1"}) {
        if (upstream) {
            repaired.push_back(std::string("enable ") + patch + " 0");
        }
        repaired.push_back(std::string("delete ") + patch + " 0x880 0");
    }
    repaired.emplace_back("op rm,1,part.tar.gz,part_1");
    EXPECT_EQ(lkpsim::history(), repaired);
    EXPECT_EQ(lkpsim::records(), std::vector<std::string>{});
    EXPECT_NE(access(stale_.c_str(), F_OK), 0);
    stale_.clear();
    lkpsim::clear_history();
    run_steps(
        {{{"repair"}, 0, "nothing to repair\n", ""},
         {{"--json", "repair"}, 0, json_line("repair", 0, "Success", R"({"repaired":[]})"), ""}});
    const ToolRun clean = lkpctl({"status", "--root", "%D/root"});
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out.find("crash leftovers"), std::string::npos);
    EXPECT_TRUE(lkpsim::history().empty());
}

// Upstream, an inserted patch is live: repair turns its switch off, waits
// for its transition, then removes its module. An active partial package is
// deactivated before its removal.
TEST_F(LkpctlLeftoversTest, LiveOrphanAndActivePartialAreSwitchedOffFirst) {
    lkpsim::ModuleSpec orphan;
    orphan.name = "orphan_1";
    const std::vector<unsigned char> image = lkpsim::make_module_image(orphan);
    std::ofstream(expand("%D/orphan_1.ko"), std::ios::binary)
        .write(reinterpret_cast<const char *>(image.data()),
               static_cast<std::streamsize>(image.size()));
    lkpsim::set_enable_on_insert(true);
    run_steps({{{"insmod", "%D/orphan_1.ko"}, 0, "%D/orphan_1.ko: inserted\n", ""}});
    lkpsim::clear_history();
    lkpsim::insert_patch("part_1");
    lkpsim::register_patch(2, "part.tar.gz", "part_1");
    lkpsim::set_patch_state("part_1", "enabled");
    run_steps({{{"repair"},
                0,
                "orphan patch module orphan_1: removed\n"
                "partial package part.tar.gz (1 of 2 patches): removed\n",
                ""}});
    EXPECT_EQ(
        lkpsim::history(),
        (std::vector<std::string>{"enable orphan_1 0", "delete orphan_1 0x880 0", "enable part_1 0",
                                  "delete part_1 0x880 0", "op rm,1,part.tar.gz,part_1"}));
    EXPECT_EQ(lkpsim::inserted_modules(), std::vector<std::string>{"tesvar"});
}

// A removal the kernel refuses is reported, and repair fails.
TEST_F(LkpctlLeftoversTest, RefusedRemovalFailsTheRepair) {
    lkpsim::insert_patch("orphan_1");
    lkpsim::fail_next_delete(EBUSY, "orphan_1");
    run_steps({{{"repair"},
                1,
                "orphan patch module orphan_1: failed: -16: Device or resource busy\n",
                "lkpctl: repair: 1 of 1 leftovers could not be removed\n" +
                    failure("repair", -16, "Device or resource busy")}});
    EXPECT_TRUE(lkpsim::module_inserted("orphan_1"));
}

}  // namespace
}  // namespace lkptest
