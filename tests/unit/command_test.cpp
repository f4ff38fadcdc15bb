// External commands without a shell, temporary directories and archive
// extraction.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/package_builder.h"
#include "sys/archive.h"
#include "sys/command.h"
#include "sys/names.h"
#include "sys/tmp_dir.h"
#include "unit_support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using unit::Lines;
using unit::logged;

// Every character a shell would act on; "pwned" appears if one ever runs.
const std::string kShellBait = " a b'c\"d $(touch pwned) `touch pwned` ;*|&";

class CommandTest : public lkptest::KernelTest {};

TEST_F(CommandTest, ArgumentsReachTheProgramUnchangedWithEmptyEnvironment) {
    const unit::WorkingDir cwd(scratch_dir());
    ASSERT_EQ(setenv("LKP_UNIT_PROBE", "1", 1), 0);
    CaptureStdout();
    EXPECT_EQ(tesvar::cmd_exec("/usr/bin/printf", "<%s>", "x y", kShellBait.c_str(), ""), 0);
    EXPECT_EQ(tesvar::cmd_exec("/usr/bin/env", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(tesvar::cmd_exec("/bin/false", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(GetCapturedStdout(), "<x y><" + kShellBait + "><>");
    unsetenv("LKP_UNIT_PROBE");
    EXPECT_EQ(unit::entries(scratch_dir()), Lines{});
}

// Set while the test below runs: where a process other than the test's own
// reports that it ran the test's code or its exit handlers.
int g_report_fd = -1;
pid_t g_test_pid = 0;

void report(const pid_t pid) {
    EXPECT_EQ(write(g_report_fd, &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
}

void report_foreign_exit() {
    if (g_report_fd >= 0 && getpid() != g_test_pid) {
        report(getpid());
    }
}

// A program that cannot start ends its child at once: the child neither comes
// back into the test nor runs the process's exit handlers, so only the test's
// own process reports.
TEST_F(CommandTest, ProgramThatCannotStartEndsTheChildAtOnce) {
    static const bool registered = std::atexit(report_foreign_exit) == 0;
    ASSERT_TRUE(registered);
    int channel[2];
    ASSERT_EQ(pipe2(channel, O_CLOEXEC), 0);
    g_test_pid = getpid();
    g_report_fd = channel[1];
    char *const argv[] = {const_cast<char *>("/nonexistent/program"), nullptr};
    const int result = tesvar::lkp_system_sec("/nonexistent/program", argv);
    report(getpid());
    if (getpid() != g_test_pid) {
        _exit(0);  // a child that came back: stop it here, the parent sees its report
    }
    g_report_fd = -1;
    close(channel[1]);
    std::vector<pid_t> reporters;
    for (pid_t pid = 0; read(channel[0], &pid, sizeof pid) == sizeof pid;) {
        reporters.push_back(pid);
    }
    close(channel[0]);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(reporters, std::vector<pid_t>{g_test_pid});
}

volatile sig_atomic_t g_signal_sender = 0;

void note_sender(int /*signal*/, siginfo_t *info, void * /*context*/) {
    g_signal_sender = info->si_pid;
}

// The child signals the test process until it is stopped (for 5 s at most);
// one signal meets the wait, which is not repeated: EINTR, and the child is
// left to the caller.
TEST_F(CommandTest, InterruptedWaitReturnsEintrAtOnce) {
    struct sigaction action {};
    struct sigaction saved {};
    action.sa_sigaction = note_sender;
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART
    ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);
    const char *script =
        "i=0; while [ $i -lt 500 ] && kill -USR1 $PPID; do i=$((i+1)); /bin/sleep 0.01; done";
    EXPECT_EQ(tesvar::cmd_exec("/bin/sh", "-c", script, nullptr, nullptr), EINTR);
    const pid_t child = g_signal_sender;
    ASSERT_GT(child, 0);
    EXPECT_EQ(kill(child, SIGKILL), 0);
    EXPECT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(sigaction(SIGUSR1, &saved, nullptr), 0);
}

TEST_F(CommandTest, NamesReachTarAndRmAsOneArgument) {
    const unit::WorkingDir cwd(scratch_dir());
    const std::string built =
        lkpsim::build_package(lkpsim::simple_package("p.tar.gz", 1), scratch_dir());
    ASSERT_FALSE(built.empty());
    const std::string archive = scratch_dir() + "/" + kShellBait + ".tar.gz";
    const std::string dir = scratch_dir() + "/" + kShellBait;
    ASSERT_EQ(std::rename(built.c_str(), archive.c_str()), 0);
    unit::make_dir(dir);

    EXPECT_EQ(tesvar::decompress_tar_gz(archive.c_str(), dir.c_str()), 0);
    EXPECT_EQ(unit::entries(dir), Lines{"p"});
    EXPECT_EQ(unit::entries(dir + "/p"), (Lines{"content", "fix_1.tar.gz"}));
    tesvar::rm_tmp_dir(dir.c_str());
    EXPECT_EQ(unit::entries(scratch_dir()), Lines{kShellBait + ".tar.gz"});
    EXPECT_EQ(logged(), Lines{});
}

TEST_F(CommandTest, MissingOrDamagedArchiveYieldsZeroAndAnEmptyDirectory) {
    const std::string dir = scratch_dir() + "/out";
    unit::make_dir(dir);
    const std::string damaged = scratch_dir() + "/damaged.tar.gz";
    unit::write_text(damaged, "this is not gzip data\n");
    CaptureStderr();  // tar's own complaints
    for (const std::string &archive : {scratch_dir() + "/missing.tar.gz", damaged}) {
        SCOPED_TRACE(archive);
        EXPECT_EQ(tesvar::decompress_tar_gz(archive.c_str(), dir.c_str()), 0);
        EXPECT_EQ(unit::entries(dir), Lines{});
        EXPECT_EQ(unit::Owned(tesvar::get_child_dir(dir.c_str())), nullptr);
    }
    GetCapturedStderr();
    EXPECT_EQ(logged(), Lines{});
}

TEST_F(CommandTest, TemporaryDirectoriesAreDistinctPrivateAndRemovedQuietly) {
    const unit::Owned first(tesvar::create_tmp_dir());
    const unit::Owned second(tesvar::create_tmp_dir());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_STRNE(first.get(), second.get());
    for (const char *dir : {first.get(), second.get()}) {
        SCOPED_TRACE(dir);
        EXPECT_EQ(std::string(dir).size(), 15u);
        EXPECT_EQ(std::string(dir).rfind("/tmp/lkp_", 0), 0u);
        struct stat status {};
        ASSERT_EQ(lstat(dir, &status), 0);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, 0700u);
    }
    const std::string nested = std::string(first.get()) + "/unit";
    unit::make_dir(nested);
    unit::write_text(nested + "/file", "x");
    tesvar::rm_tmp_dir(first.get());
    tesvar::rm_tmp_dir(second.get());
    EXPECT_FALSE(unit::exists(first.get()));
    EXPECT_FALSE(unit::exists(second.get()));
    tesvar::rm_tmp_dir(first.get());  // already gone: rm runs and fails quietly
    tesvar::rm_tmp_dir(nullptr);      // rm -rf with no operand
    EXPECT_EQ(logged(), Lines{});
}

}  // namespace
