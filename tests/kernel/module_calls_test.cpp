// navo_lkp_insmod and navo_lkp_rmmod through the shared library: the module
// calls the kernel side receives and the codes that come back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "tesvar.h"

namespace {

using Lines = std::vector<std::string>;

class ModuleCalls : public lkptest::KernelTest {
protected:
    // A module file in the scratch directory: a real module image, or raw bytes.
    std::string module_file(const std::string &name,
                            std::vector<std::string> targets = {"vmlinux"}) {
        lkpsim::ModuleSpec module;
        module.name = name;
        module.targets = std::move(targets);
        EXPECT_TRUE(lkpsim::write_module_file(scratch_dir() + "/" + name + ".ko", module));
        return scratch_dir() + "/" + name + ".ko";
    }
    std::string raw_file(const std::string &name, const std::string &bytes) {
        std::ofstream(scratch_dir() + "/" + name, std::ios::binary) << bytes;
        return scratch_dir() + "/" + name;
    }
};

TEST_F(ModuleCalls, Insertion) {
    EXPECT_EQ(navo_lkp_insmod(module_file("fix_a").c_str()), 0);
    EXPECT_EQ(navo_lkp_insmod(module_file("fix_a").c_str()), -17);
    EXPECT_EQ(navo_lkp_insmod((scratch_dir() + "/none.ko").c_str()), -2);
    EXPECT_EQ(navo_lkp_insmod(raw_file("empty.ko", "").c_str()), -22);
    EXPECT_EQ(navo_lkp_insmod(raw_file("bad.ko", "not a module\n").c_str()), -8);
    lkpsim::set_target_loaded("nfs", false);
    EXPECT_EQ(navo_lkp_insmod(module_file("fix_n", {"nfs"}).c_str()), -65);
    lkpsim::fail_next_init(311);
    EXPECT_EQ(navo_lkp_insmod(module_file("fix_b").c_str()), -311);
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_a"}));
    EXPECT_EQ(lkpsim::history(), (Lines{"init fix_a 0", "init fix_a -17", "init ? -8",
                                        "init fix_n -65", "init fix_b -311"}));
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

// Only a regular file is a module image: a FIFO (no writer: an open that
// waited would never return), a device and a directory are answered with
// ENODEV at once, and reach no module call. A link to a module is followed.
TEST_F(ModuleCalls, InsertionOfWhatIsNotARegularFile) {
    const std::string fifo = scratch_dir() + "/fifo.ko";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = scratch_dir() + "/link.ko";
    ASSERT_EQ(symlink(module_file("fix_l").c_str(), link.c_str()), 0);
    for (const std::string &path : {fifo, std::string("/dev/null"), scratch_dir()}) {
        EXPECT_EQ(navo_lkp_insmod(path.c_str()), -19) << path;
    }
    EXPECT_EQ(navo_lkp_insmod(link.c_str()), 0);
    EXPECT_EQ(lkpsim::history(), (Lines{"init fix_l 0"}));
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

// A patch module the kernel lets go: upstream its patch is enabled by the
// insertion, and only once disabled and freed (its livepatch directory gone)
// can the module leave.
void insert_removable(const std::string &patch) {
    lkpsim::insert_patch(patch);
    if (lkpsim::upstream_by_default()) {
        lkpsim::hide_livepatch_dir(patch);
    }
}

// The kernel's name: up to the first '.', '-' as '_', at most 255 characters.
TEST_F(ModuleCalls, RemovalNamesAndFlags) {
    const std::string long_name(300, 'x');
    const struct {
        std::string argument, module;
        bool inserted;
    } cases[] = {
        {"patch-a.ko", "patch_a", true},
        {"a-b-c", "a_b_c", true},
        {"tesvar", "tesvar", true},  // the manager, inserted by default
        {"fix_a.tar.gz", "fix_a", true},
        {"dir/x-y.ko", "dir/x_y", false},
        {long_name, long_name.substr(0, 255), false},
        {".ko", "", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.argument);
        lkpsim::reset();
        if (c.inserted && c.module != "tesvar") {
            insert_removable(c.module);
        }
        ASSERT_EQ(lkpsim::module_inserted(c.module), c.inserted);
        lkpsim::clear_history();
        EXPECT_EQ(navo_lkp_rmmod(c.argument.c_str()), c.inserted ? 0 : -2);
        EXPECT_FALSE(lkpsim::module_inserted(c.module));
        EXPECT_EQ(lkpsim::history(),
                  Lines{"delete " + c.module + " 0x880 " + (c.inserted ? "0" : "-2")});
    }
    insert_removable("fix_a");
    lkpsim::fail_next_delete(16);
    EXPECT_EQ(navo_lkp_rmmod("fix_a.ko"), -16);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(lkpsim::history("delete").back(), "delete fix_a 0x880 -16");
    EXPECT_EQ(lkpsim::take_log_texts(), Lines{});
}

}  // namespace
