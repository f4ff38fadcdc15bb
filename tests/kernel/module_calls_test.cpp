// navo_lkp_insmod and navo_lkp_rmmod through the shared library: the
// module calls the kernel side receives and the codes that come back.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "kernel_helpers.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "tesvar.h"

namespace {

using kerneltest::Lines;

class ModuleCalls : public lkptest::KernelTest {
public:  // the table rows arrange their scene through these
    // A module file in the scratch directory.
    std::string module_file(const std::string &name,
                            std::vector<std::string> targets = {"vmlinux"}) {
        lkpsim::ModuleSpec spec;
        spec.name = name;
        spec.targets = std::move(targets);
        const std::string path = scratch_path(name + ".ko");
        EXPECT_TRUE(lkpsim::write_module_file(path, spec));
        return path;
    }
    std::string raw_file(const std::string &file_name, const std::string &bytes) {
        const std::string path = scratch_path(file_name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string scratch_path(const std::string &file_name) {
        return std::string(scratch_dir()) + "/" + file_name;
    }
};

TEST_F(ModuleCalls, InsertsAModule) {
    EXPECT_EQ(navo_lkp_insmod(module_file("fix_a").c_str()), 0);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(lkpsim::history(), Lines{"init fix_a 0"});
    EXPECT_EQ(kerneltest::take_log(), Lines{});
}

TEST_F(ModuleCalls, InsertionFailures) {
    struct Case {
        const char *what;
        std::function<std::string(ModuleCalls *)> arrange;  // gives the path
        int32_t result;
        Lines history;
    };
    const std::vector<Case> cases = {
        {"missing file", [](ModuleCalls *t) { return t->scratch_path("none.ko"); }, -2, {}},
        {"empty file", [](ModuleCalls *t) { return t->raw_file("empty.ko", ""); }, -22, {}},
        {"already inserted",
         [](ModuleCalls *t) {
             lkpsim::insert_patch("fix_a");
             return t->module_file("fix_a");
         },
         -17,
         {"init fix_a -17"}},
        {"target not loaded",
         [](ModuleCalls *t) {
             lkpsim::set_target_loaded("nfs", false);
             return t->module_file("fix_a", {"nfs"});
         },
         -65,
         {"init fix_a -65"}},
        {"bad image",
         [](ModuleCalls *t) { return t->raw_file("bad.ko", "not a module\n"); },
         -8,
         {"init ? -8"}},
        {"kernel code",
         [](ModuleCalls *t) {
             lkpsim::fail_next_init(311);
             return t->module_file("fix_a");
         },
         -311,
         {"init fix_a -311"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lkpsim::reset();
        const std::string path = c.arrange(this);
        lkpsim::clear_history();
        EXPECT_EQ(navo_lkp_insmod(path.c_str()), c.result);
        EXPECT_EQ(lkpsim::history(), c.history);
        EXPECT_EQ(kerneltest::take_log(), Lines{});
    }
}

TEST_F(ModuleCalls, RemovalNamesAndFlags) {
    const std::string long_name(300, 'x');
    struct Case {
        std::string argument;
        std::string module;  // the name the kernel is asked for
        bool inserted;
    };
    const std::vector<Case> cases = {
        {"patch-a.ko", "patch_a", true},
        {"a-b-c", "a_b_c", true},
        {"tesvar", "tesvar", true},  // the manager, inserted by default
        {"fix_a.tar.gz", "fix_a", true},
        {"dir/x-y.ko", "dir/x_y", false},
        {long_name, long_name.substr(0, 255), false},
        {".ko", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.argument);
        lkpsim::reset();
        if (c.inserted && c.module != "tesvar") {
            lkpsim::insert_patch(c.module);
        }
        ASSERT_EQ(lkpsim::module_inserted(c.module), c.inserted);
        lkpsim::clear_history();
        const int32_t result = c.inserted ? 0 : -2;
        EXPECT_EQ(navo_lkp_rmmod(c.argument.c_str()), result);
        EXPECT_FALSE(lkpsim::module_inserted(c.module));
        EXPECT_EQ(lkpsim::history(),
                  Lines{"delete " + c.module + " 0x880 " + std::to_string(result)});
        EXPECT_EQ(kerneltest::take_log(), Lines{});
    }
}

TEST_F(ModuleCalls, RemovalRefusedByTheKernel) {
    for (const int error : {16, 11}) {
        SCOPED_TRACE(error);
        lkpsim::reset();
        lkpsim::insert_patch("fix_a");
        lkpsim::fail_next_delete(error);
        EXPECT_EQ(navo_lkp_rmmod("fix_a.ko"), -error);
        EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
        EXPECT_EQ(lkpsim::history(), Lines{"delete fix_a 0x880 -" + std::to_string(error)});
    }
}

}  // namespace
