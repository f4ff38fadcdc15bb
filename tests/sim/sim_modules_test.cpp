// The module calls as the simulated kernel answers them through syscall().
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "file_io.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"

namespace {

using lkptest::KernelTest;
using simtest::is_directory;
using simtest::is_regular_file;
using simtest::stat_error;
using Lines = std::vector<std::string>;

constexpr unsigned long REMOVAL_FLAGS = 0x880;

// 0, or the errno of a failed call.
int call_result(long result) {
    return result == 0 ? 0 : errno;
}

int init_image(const std::vector<unsigned char> &image) {
    errno = 0;
    return call_result(syscall(SYS_init_module, image.data(), image.size(), ""));
}

int init_module_named(const std::string &name,
                      const std::vector<std::string> &targets = {"vmlinux"}) {
    lkpsim::ModuleSpec spec;
    spec.name = name;
    spec.targets = targets;
    return init_image(lkpsim::make_module_image(spec));
}

int delete_module(const char *name, unsigned long flags = REMOVAL_FLAGS) {
    errno = 0;
    return call_result(syscall(SYS_delete_module, name, flags));
}

class SimModulesTest : public KernelTest {};

TEST_F(SimModulesTest, ThisExecutableProvidesTheSyscallThatLibrariesBindTo) {
    void *found = dlsym(RTLD_DEFAULT, "syscall");
    EXPECT_EQ(found, reinterpret_cast<void *>(&syscall));
    EXPECT_NE(dlsym(RTLD_NEXT, "syscall"), found);
}

TEST_F(SimModulesTest, OtherCallsReachTheRealKernel) {
    EXPECT_EQ(syscall(SYS_getpid), static_cast<long>(getpid()));
    EXPECT_EQ(syscall(SYS_gettid), static_cast<long>(gettid()));
    errno = 0;
    EXPECT_EQ(syscall(SYS_close, -1), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(SimModulesTest, InitInsertsAPatchWithItsDirectories) {
    EXPECT_EQ(init_module_named("fix_a", {"vmlinux", "nfs"}), 0);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_a"}));
    EXPECT_TRUE(is_regular_file("/sys/kernel/livepatch/fix_a/enabled"));
    EXPECT_TRUE(is_directory("/sys/kernel/livepatch/fix_a/nfs"));
    EXPECT_TRUE(is_directory("/sys/kernel/livepatch/fix_a/vmlinux"));
    EXPECT_EQ(lkpsim::history(), Lines{"init fix_a 0"});
    EXPECT_TRUE(lkpsim::records().empty());  // registering is the "add" line's job
}

TEST_F(SimModulesTest, InitOfAnInsertedModuleGivesEexist) {
    lkpsim::insert_patch("fix_a");
    EXPECT_EQ(init_module_named("fix_a"), EEXIST);
    EXPECT_EQ(init_module_named("tesvar"), EEXIST);
    EXPECT_EQ(lkpsim::history("init"), (Lines{"init fix_a -17", "init tesvar -17"}));
}

TEST_F(SimModulesTest, PatchOfAnUnloadedTargetGivesEnopkg) {
    lkpsim::set_target_loaded("nfs", false);
    EXPECT_EQ(init_module_named("fix_a", {"vmlinux", "nfs"}), ENOPKG);
    EXPECT_FALSE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(stat_error("/sys/kernel/livepatch/fix_a"), ENOENT);
    lkpsim::set_target_loaded("nfs", true);
    EXPECT_EQ(init_module_named("fix_a", {"vmlinux", "nfs"}), 0);
    EXPECT_EQ(init_module_named("fix_b", {"xfs"}), ENOPKG);
    EXPECT_EQ(lkpsim::history("init"), (Lines{"init fix_a -65", "init fix_a 0", "init fix_b -65"}));
}

TEST_F(SimModulesTest, InsertedPlainModuleServesAsATarget) {
    lkpsim::ModuleSpec plain;
    plain.name = "xfs";
    plain.livepatch = false;
    EXPECT_EQ(init_image(lkpsim::make_module_image(plain)), 0);
    EXPECT_EQ(stat_error("/sys/kernel/livepatch/xfs"), ENOENT);
    EXPECT_EQ(init_module_named("fix_a", {"xfs"}), 0);
}

TEST_F(SimModulesTest, BadImageGivesEnoexec) {
    EXPECT_EQ(init_image({'n', 'o', 't', ' ', 'e', 'l', 'f'}), ENOEXEC);
    EXPECT_EQ(lkpsim::history(), Lines{"init ? -8"});
}

TEST_F(SimModulesTest, BigEndian32BitImagesAreRead) {
    lkpsim::ModuleSpec spec;
    spec.name = "fix_ppc";
    spec.elf_class = 32;
    spec.big_endian = true;
    EXPECT_EQ(init_image(lkpsim::make_module_image(spec)), 0);
    EXPECT_TRUE(lkpsim::module_inserted("fix_ppc"));
}

TEST_F(SimModulesTest, ArmedInitFaultHitsTheNamedModuleOnce) {
    lkpsim::fail_next_init(300, "fix_b");
    EXPECT_EQ(init_module_named("fix_a"), 0);
    EXPECT_EQ(init_module_named("fix_b"), 300);
    EXPECT_FALSE(lkpsim::module_inserted("fix_b"));
    EXPECT_EQ(init_module_named("fix_b"), 0);
    lkpsim::fail_next_init(ENOMEM);
    EXPECT_EQ(init_module_named("fix_c"), ENOMEM);
    EXPECT_EQ(lkpsim::history("init"),
              (Lines{"init fix_a 0", "init fix_b -300", "init fix_b 0", "init fix_c -12"}));
}

TEST_F(SimModulesTest, DeleteRemovesThePatchButNotItsRecord) {
    lkpsim::insert_patch("fix_a");
    lkpsim::register_patch(1, "pkg", "fix_a");
    EXPECT_EQ(delete_module("fix_a"), 0);
    EXPECT_FALSE(lkpsim::module_inserted("fix_a"));
    EXPECT_EQ(stat_error("/sys/kernel/livepatch/fix_a"), ENOENT);
    EXPECT_EQ(lkpsim::records(), Lines{"1,pkg,fix_a"});
    EXPECT_EQ(lkpsim::history(), Lines{"delete fix_a 0x880 0"});
}

TEST_F(SimModulesTest, DeleteFollowsTheKernelsNameAndFlagRules) {
    lkpsim::insert_patch("fix_a");
    EXPECT_EQ(delete_module("fix_b"), ENOENT);
    EXPECT_EQ(delete_module(""), ENOENT);
    EXPECT_EQ(delete_module("fix_a.ko"), ENOENT);
    EXPECT_EQ(delete_module("/fix_a"), ENOENT);
    EXPECT_EQ(delete_module(std::string(300, 'a').c_str()), ENOENT);
    EXPECT_EQ(delete_module("fix_a", 0x80), EINVAL);
    EXPECT_EQ(delete_module(nullptr), EFAULT);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
    const Lines history = lkpsim::history("delete");
    ASSERT_EQ(history.size(), 7U);
    EXPECT_EQ(history[0], "delete fix_b 0x880 -2");
    EXPECT_EQ(history[1], "delete  0x880 -2");
    EXPECT_EQ(history[2], "delete fix_a.ko 0x880 -2");
    EXPECT_EQ(history[5], "delete fix_a 0x80 -22");
    EXPECT_EQ(history[6], "delete ? 0x880 -14");
}

TEST_F(SimModulesTest, ArmedDeleteFaultHitsTheNamedModuleOnce) {
    lkpsim::insert_patch("fix_a");
    lkpsim::insert_patch("fix_b");
    lkpsim::fail_next_delete(EBUSY, "fix_b");
    EXPECT_EQ(delete_module("fix_a"), 0);
    EXPECT_EQ(delete_module("fix_b"), EBUSY);
    EXPECT_TRUE(lkpsim::module_inserted("fix_b"));
    EXPECT_EQ(delete_module("fix_b"), 0);
    lkpsim::fail_next_delete(EAGAIN);
    EXPECT_EQ(delete_module("anything"), EAGAIN);
    EXPECT_EQ(lkpsim::history("delete"),
              (Lines{"delete fix_a 0x880 0", "delete fix_b 0x880 -16", "delete fix_b 0x880 0",
                     "delete anything 0x880 -11"}));
}

TEST_F(SimModulesTest, RemovingTheManagerTakesTheControlFileAway) {
    EXPECT_EQ(delete_module("tesvar"), 0);
    EXPECT_EQ(stat_error("/proc/navo_lkp_list"), ENOENT);
    EXPECT_EQ(init_module_named("tesvar"), 0);
    EXPECT_TRUE(is_regular_file("/proc/navo_lkp_list"));
    EXPECT_EQ(stat_error("/sys/kernel/livepatch/tesvar"), ENOENT);
}

TEST_F(SimModulesTest, InsertableManagerComesBackFromItsFile) {
    lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
    EXPECT_EQ(stat_error("/proc/navo_lkp_list"), ENOENT);
    const std::string path = lkpsim::manager_module_path();
    EXPECT_EQ(path.rfind("/lib/modules/", 0), 0U);
    ASSERT_TRUE(is_regular_file(path));
    EXPECT_EQ(init_image(simtest::read_bytes(path)), 0);
    EXPECT_TRUE(is_regular_file("/proc/navo_lkp_list"));
    EXPECT_EQ(lkpsim::history(), Lines{"init tesvar 0"});
}

TEST_F(SimModulesTest, RefusedManagerStaysAbsent) {
    lkpsim::set_manager(lkpsim::Manager::AbsentRefused);
    ASSERT_TRUE(is_regular_file(lkpsim::manager_module_path()));
    EXPECT_EQ(init_image(simtest::read_bytes(lkpsim::manager_module_path())), EPERM);
    EXPECT_EQ(stat_error("/proc/navo_lkp_list"), ENOENT);
    EXPECT_EQ(lkpsim::history(), Lines{"init tesvar -1"});
}

TEST_F(SimModulesTest, SubprocessCallsAreAnsweredThroughThePreloadLibrary) {
    lkpsim::insert_patch("fix_a");
    std::string module = scratch_dir() + "/fix_b.ko";
    lkpsim::ModuleSpec spec;
    spec.name = "fix_b";
    ASSERT_TRUE(lkpsim::write_module_file(module, spec));
    char helper[] = SIM_MODULE_CALL;
    char remove[] = "delete";
    char name[] = "fix_a";
    char insert[] = "init";
    char *delete_argv[] = {helper, remove, name, nullptr};
    char *init_argv[] = {helper, insert, module.data(), nullptr};
    EXPECT_EQ(lkpsim::run_program(delete_argv), 0);
    EXPECT_EQ(lkpsim::run_program(init_argv), 0);
    EXPECT_EQ(lkpsim::run_program(init_argv), EEXIST);
    EXPECT_EQ(lkpsim::inserted_modules(), (Lines{"tesvar", "fix_b"}));
    EXPECT_EQ(lkpsim::history(), (Lines{"delete fix_a 0x880 0", "init fix_b 0", "init fix_b -17"}));
}

// Outside the namespace there is no kernel to answer, and the preload
// library must not hand the call on. A child hides the kernel's state from
// itself and its program.
TEST_F(SimModulesTest, PreloadLibraryFailsClosedWithoutTheKernel) {
    lkpsim::insert_patch("fix_a");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/run/lkpsim/state", "tmpfs", 0, nullptr) != 0) {
            _exit(255);
        }
        char helper[] = SIM_MODULE_CALL;
        char remove[] = "delete";
        char name[] = "fix_a";
        char *argv[] = {helper, remove, name, nullptr};
        _exit(lkpsim::run_program(argv));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), ENOSYS);
    EXPECT_TRUE(lkpsim::module_inserted("fix_a"));
    EXPECT_TRUE(lkpsim::history().empty());
}

}  // namespace
