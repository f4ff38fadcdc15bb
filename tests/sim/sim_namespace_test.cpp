// The namespace: what a process and its programs find at the usual paths.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "file_io.h"
#include "kernel_test.h"
#include "lkpsim/lkpsim.h"

namespace {

using lkptest::KernelTest;
using simtest::is_directory;
using simtest::read_text;

long filesystem_type(const char *path) {
    struct statfs status {};
    return statfs(path, &status) == 0 ? static_cast<long>(status.f_type) : -1;
}

class SimNamespaceTest : public KernelTest {};

TEST_F(SimNamespaceTest, ProcSelfIsThisProcess) {
    const std::string status = read_text("/proc/self/status");
    EXPECT_NE(status.find("\nPid:\t" + std::to_string(getpid()) + "\n"), std::string::npos);
    EXPECT_NE(read_text("/proc/self/maps").find('['), std::string::npos);
    EXPECT_EQ(filesystem_type("/proc/self/"), static_cast<long>(PROC_SUPER_MAGIC));
    EXPECT_TRUE(is_directory("/proc/thread-self/fd"));
}

TEST_F(SimNamespaceTest, ProcShowsProcessesStartedLater) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte;
        close(ends[1]);
        _exit(read(ends[0], &byte, 1) < 0 ? 1 : 0);
    }
    close(ends[0]);
    const std::string status = read_text("/proc/" + std::to_string(child) + "/status");
    EXPECT_NE(status.find("\nPid:\t" + std::to_string(child) + "\n"), std::string::npos);
    close(ends[1]);
    int exit_status = 0;
    EXPECT_EQ(waitpid(child, &exit_status, 0), child);
    EXPECT_TRUE(lkptest::directory_entries("/proc").count("self") == 1U);
}

TEST_F(SimNamespaceTest, DeviceFilesStillWork) {
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null_fd, 0);
    EXPECT_EQ(write(null_fd, "x", 1), 1);
    close(null_fd);
    const int random_fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(random_fd, 0);
    char bytes[16];
    EXPECT_EQ(read(random_fd, bytes, sizeof(bytes)), static_cast<ssize_t>(sizeof(bytes)));
    close(random_fd);
    EXPECT_EQ(access("/dev/fuse", R_OK | W_OK), 0);
    EXPECT_TRUE(is_directory("/dev/pts"));
    EXPECT_EQ(filesystem_type("/dev/shm"), static_cast<long>(TMPFS_MAGIC));
    struct stat log {};
    ASSERT_EQ(stat("/dev/log", &log), 0);
    EXPECT_TRUE(S_ISSOCK(log.st_mode));
}

TEST_F(SimNamespaceTest, TmpIsPrivate) {
    EXPECT_EQ(filesystem_type("/tmp"), static_cast<long>(TMPFS_MAGIC));
    EXPECT_EQ(filesystem_type(lkpsim::scratch_root().c_str()), static_cast<long>(TMPFS_MAGIC));
}

TEST_F(SimNamespaceTest, ModuleDirectoryOfTheRunningKernelExists) {
    struct utsname identity {};
    ASSERT_EQ(uname(&identity), 0);
    const std::string dir = std::string("/lib/modules/") + identity.release + "/mts";
    EXPECT_EQ(lkpsim::manager_module_path(), dir + "/tesvar.ko");
    EXPECT_TRUE(is_directory(dir));
    EXPECT_TRUE(lkptest::directory_entries(dir).empty());
}

TEST_F(SimNamespaceTest, ProgramsStillLoadTheirLibraries) {
    char tar[] = "/bin/tar";
    char version[] = "--version";
    char *argv[] = {tar, version, nullptr};
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null_fd, 0);
    const int saved = dup(STDOUT_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    const int status = lkpsim::run_program(argv);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null_fd);
    EXPECT_EQ(status, 0);
}

TEST_F(SimNamespaceTest, ProgramExitStatusIsReported) {
    char sh[] = "/bin/sh";
    char command_flag[] = "-c";
    char exit_three[] = "exit 3";
    char kill_self[] = "kill -TERM $$";
    char *exits[] = {sh, command_flag, exit_three, nullptr};
    char *killed[] = {sh, command_flag, kill_self, nullptr};
    char missing[] = "/nonexistent/program";
    char *not_found[] = {missing, nullptr};
    EXPECT_EQ(lkpsim::run_program(exits), 3);
    EXPECT_EQ(lkpsim::run_program(killed), 128 + SIGTERM);
    EXPECT_EQ(lkpsim::run_program(not_found), 127);
}

}  // namespace
