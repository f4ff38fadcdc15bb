// The emulated kernel: op lines and enable switches judged at close, what the
// files show, the module calls made through syscall(), the manager modes.
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "sim_util.h"

namespace {

using simtest::Bytes;
using simtest::Lines;
using simtest::read_text;
using simtest::stat_error;
using simtest::write_text;

const std::string CONTROL = "/proc/navo_lkp_list";
const std::string STATE = "/proc/livepatch/state";
const std::string STATE_HEAD = "livepatch state\nnum\tpatch\tstate\n";
const std::string LIVEPATCH = "/sys/kernel/livepatch/";
const std::string ENABLED = LIVEPATCH + "fix_a/enabled";

// 0, or the errno of the failed call.
int init_image(const Bytes &image) {
    errno = 0;
    return syscall(SYS_init_module, image.data(), image.size(), "") == 0 ? 0 : errno;
}

int delete_module(const char *name, unsigned long flags) {
    errno = 0;
    return syscall(SYS_delete_module, name, flags) == 0 ? 0 : errno;
}

lkpsim::ModuleSpec module(const std::string &name, const Lines &targets = {"vmlinux"}) {
    lkpsim::ModuleSpec spec;
    spec.name = name;
    spec.targets = targets;
    return spec;
}

class SimKernelTest : public lkptest::KernelTest {};

TEST_F(SimKernelTest, AcceptedLinesAndSwitchesShowInTheFiles) {
    lkpsim::insert_patch("fix_a", {"vmlinux", "ext4"});
    EXPECT_EQ(lkptest::directory_entries(LIVEPATCH + "fix_a"),
              (std::set<std::string>{"enabled", "transition", "signal", "vmlinux", "ext4"}));
    EXPECT_EQ(write_text(CONTROL, "add,2,hotfix_01.tar.gz,fix_a"), 0);
    EXPECT_EQ(write_text(CONTROL, "add,2,hotfix_01.tar.gz,fix_b\n"), 0);
    EXPECT_EQ(read_text(CONTROL), "2,hotfix_01.tar.gz,fix_a\n2,hotfix_01.tar.gz,fix_b\n");
    // The state file names live patch modules, not records: fix_b's record
    // has no module, so no line.
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "1\tfix_a\tdisabled\nend\n");
    EXPECT_EQ(read_text(ENABLED), "0\n");

    EXPECT_EQ(write_text(ENABLED, "1"), 0);
    EXPECT_EQ(read_text(ENABLED), "1\n");
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "1\tfix_a\tenabled\nend\n");
    EXPECT_EQ(write_text(ENABLED, "0"), 0);
    EXPECT_EQ(read_text(ENABLED), "0\n");

    EXPECT_EQ(write_text(CONTROL, "rm,2,hotfix_01.tar.gz,fix_b"), 0);
    EXPECT_EQ(read_text(CONTROL), "2,hotfix_01.tar.gz,fix_a\n");
    EXPECT_EQ(read_text(STATE), STATE_HEAD + "1\tfix_a\tdisabled\nend\n");
    // A module not registered has its line, in insertion order; a plain
    // module has none.
    lkpsim::insert_patch("fix_c");
    lkpsim::insert_plain_module("fix_d");
    const std::string inserted = lkpsim::upstream_by_default() ? "enabled" : "disabled";
    EXPECT_EQ(read_text(STATE),
              STATE_HEAD + "1\tfix_a\tdisabled\n2\tfix_c\t" + inserted + "\nend\n");
    EXPECT_EQ(lkpsim::history(),
              (Lines{"op add,2,hotfix_01.tar.gz,fix_a", "op add,2,hotfix_01.tar.gz,fix_b\\n",
                     "enable fix_a 1", "enable fix_a 0", "op rm,2,hotfix_01.tar.gz,fix_b"}));
}

TEST_F(SimKernelTest, RefusalReachesTheCloseAsItsErrnoAndChangesNothing) {
    struct Case {
        std::function<void()> arm;
        std::string path;
        std::string text;
        int error;
    };
    const auto none = [] {};
    const std::vector<Case> cases = {
        {[] { lkpsim::refuse_next_op(EIO); }, CONTROL, "add,1,pkg,fix_b", EIO},
        {[] { lkpsim::refuse_next_op(304); }, CONTROL, "rm,1,pkg,fix_a", 304},
        {none, CONTROL, "add,2,pkg", EINVAL},
        {none, CONTROL, "del,1,pkg,fix_b", EINVAL},
        {none, CONTROL, "add,1,pkg A,fix_b", EINVAL},
        {none, CONTROL, "add,1,other,fix_a", EINVAL},
        {none, CONTROL, "rm,1,pkg,fix_b", EINVAL},
        {[] { lkpsim::refuse_next_enable(EBUSY); }, ENABLED, "1", EBUSY},
        {none, ENABLED, "2", EINVAL},
        {none, ENABLED, "11", EINVAL},
    };
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg", "fix_a");
    for (const Case &c : cases) {
        c.arm();
        EXPECT_EQ(write_text(c.path, c.text), c.error) << c.text;
        const std::string word = c.path == CONTROL ? "op! " : "enable! fix_a ";
        EXPECT_EQ(lkpsim::history(), Lines{word + c.text}) << c.text;
        EXPECT_EQ(lkpsim::records(), Lines{"1,pkg,fix_a"});
        EXPECT_EQ(lkpsim::patch_state("fix_a"), "disabled");
        lkpsim::clear_history();
    }
    // An armed refusal is used up; one for "rm" waits for an "rm" line.
    lkpsim::refuse_next_op(EBUSY, "rm");
    EXPECT_EQ(write_text(CONTROL, "add,1,pkg,fix_b"), 0);
    EXPECT_EQ(write_text(CONTROL, "rm,1,pkg,fix_b"), EBUSY);
    EXPECT_EQ(write_text(CONTROL, "rm,1,pkg,fix_b"), 0);
}

TEST_F(SimKernelTest, InitReadsTheNameFromTheImage) {
    struct Case {
        lkpsim::ModuleSpec spec;
        int error;
        std::string history;
    };
    lkpsim::ModuleSpec in_structure = module("fix_this", {"vmlinux", "nfs"});
    in_structure.name_in_this_module = true;
    lkpsim::ModuleSpec big_endian_32 = module("fix_ppc");
    big_endian_32.elf_class = 32;
    big_endian_32.big_endian = true;
    lkpsim::ModuleSpec no_name = module("");
    const std::vector<Case> cases = {
        {module("fix_a", {"vmlinux", "ext4"}), 0, "init fix_a 0"},
        {in_structure, 0, "init fix_this 0"},
        {big_endian_32, 0, "init fix_ppc 0"},
        {module("fix_a"), EEXIST, "init fix_a -17"},
        {module("tesvar"), EEXIST, "init tesvar -17"},
        {module("fix_b", {"vmlinux", "xfs"}), ENOPKG, "init fix_b -65"},
        {no_name, ENOEXEC, "init ? -8"},
    };
    for (const Case &c : cases) {
        lkpsim::clear_history();
        EXPECT_EQ(init_image(lkpsim::make_module_image(c.spec)), c.error) << c.history;
        EXPECT_EQ(lkpsim::history(), Lines{c.history});
    }
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_a", "fix_this", "fix_ppc"}));
    EXPECT_EQ(lkptest::directory_entries(LIVEPATCH + "fix_this"),
              (std::set<std::string>{"enabled", "transition", "signal", "vmlinux", "nfs"}));
    EXPECT_EQ(stat_error(LIVEPATCH + "fix_b"), ENOENT);
    EXPECT_TRUE(lkpsim::records().empty());  // registering is the "add" line's job
}

TEST_F(SimKernelTest, DeleteFollowsTheNameAndFlagRules) {
    struct Case {
        const char *name;
        unsigned long flags;
        int error;
        bool inserted_after;
    };
    const std::vector<Case> cases = {
        {"fix_b", 0x880, ENOENT, true},  {"fix_a.ko", 0x880, ENOENT, true},
        {"", 0x880, ENOENT, true},       {"fix_a", 0x80, EINVAL, true},
        {"fix_a", 0, EINVAL, true},      {"fix_a", 0x880, 0, false},
        {"fix_a", 0x880, ENOENT, false},
    };
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg", "fix_a");
    for (const Case &c : cases) {
        EXPECT_EQ(delete_module(c.name, c.flags), c.error) << c.name << " " << c.flags;
        EXPECT_EQ(lkpsim::module_inserted("fix_a"), c.inserted_after) << c.name << " " << c.flags;
    }
    EXPECT_EQ(stat_error(LIVEPATCH + "fix_a"), ENOENT);
    EXPECT_EQ(lkpsim::records(), Lines{"1,pkg,fix_a"});  // unregistering is the "rm" line's
    const Lines history = lkpsim::history();
    ASSERT_EQ(history.size(), cases.size());
    EXPECT_EQ(history[3], "delete fix_a 0x80 -22");
    EXPECT_EQ(history[5], "delete fix_a 0x880 0");
}

TEST_F(SimKernelTest, ManagerModes) {
    using lkpsim::Manager;
    struct Case {
        Manager manager;
        int control;      // stat error of the control file
        int module_file;  // stat error of tesvar.ko
        int init;         // inserting tesvar.ko (when placed)
    };
    const std::vector<Case> cases = {
        {Manager::Loaded, 0, ENOENT, 0},
        {Manager::AbsentInsertable, ENOENT, 0, 0},
        {Manager::AbsentRefused, ENOENT, 0, EPERM},
        {Manager::AbsentMissing, ENOENT, ENOENT, 0},
    };
    for (const Case &c : cases) {
        lkpsim::reset();
        lkpsim::set_manager(c.manager);
        const auto mode = static_cast<int>(c.manager);
        EXPECT_EQ(stat_error(CONTROL), c.control) << mode;
        EXPECT_EQ(lkpsim::module_inserted("tesvar"), c.control == 0) << mode;
        EXPECT_EQ(stat_error(lkpsim::manager_module_path()), c.module_file) << mode;
        if (c.module_file == 0) {
            const Bytes image = simtest::read_bytes(lkpsim::manager_module_path());
            EXPECT_EQ(init_image(image), c.init) << mode;
            EXPECT_EQ(stat_error(CONTROL), c.init == 0 ? 0 : ENOENT) << mode;
        }
    }
}

}  // namespace
