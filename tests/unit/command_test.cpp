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
#include <set>
#include <string>

#include "kernel_test.h"
#include "lkpsim/package_builder.h"
#include "sys/archive.h"
#include "sys/command.h"
#include "sys/tmp_dir.h"
#include "unit_support.h"

namespace {

using Names = std::set<std::string>;
using lkptest::directory_entries;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// Every character a shell would act on.
const std::string kShellBait = " a b'c\"d $(touch pwned) `touch pwned` ;*|&";

class CommandTest : public lkptest::KernelTest {};

TEST_F(CommandTest, ArgumentsReachTheProgramUnchangedWithEmptyEnvironment) {
    ASSERT_EQ(setenv("LKP_UNIT_PROBE", "1", 1), 0);
    CaptureStdout();
    EXPECT_EQ(tesvar::cmd_exec("/usr/bin/printf", "<%s>", "x y", kShellBait.c_str(), ""), 0);
    EXPECT_EQ(tesvar::cmd_exec("/usr/bin/env", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(tesvar::cmd_exec("/bin/false", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(GetCapturedStdout(), "<x y><" + kShellBait + "><>");
    unsetenv("LKP_UNIT_PROBE");
}

// Set while the test below runs: where a process other than the test's own
// reports that it came back into the test's code or ran the exit handlers.
int g_report_fd = -1;
pid_t g_test_pid = 0;

void report_foreign() {
    const pid_t pid = getpid();
    if (g_report_fd >= 0 && pid != g_test_pid) {
        EXPECT_EQ(write(g_report_fd, &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
    }
}

// A program that cannot start ends its child at once: the child neither comes
// back into the test nor runs the process's exit handlers.
TEST_F(CommandTest, ProgramThatCannotStartEndsTheChildAtOnce) {
    static const bool registered = std::atexit(report_foreign) == 0;
    ASSERT_TRUE(registered);
    int channel[2];
    ASSERT_EQ(pipe2(channel, O_CLOEXEC), 0);
    g_test_pid = getpid();
    g_report_fd = channel[1];
    char *const argv[] = {const_cast<char *>("/nonexistent/program"), nullptr};
    const int result = tesvar::lkp_system_sec(argv[0], argv);
    report_foreign();
    if (getpid() != g_test_pid) {
        _exit(0);  // a child that came back: stop it here, the parent reads its report
    }
    g_report_fd = -1;
    close(channel[1]);
    pid_t foreign = 0;
    EXPECT_EQ(read(channel[0], &foreign, sizeof foreign), 0) << "reported by " << foreign;
    close(channel[0]);
    EXPECT_EQ(result, 0);
}

volatile sig_atomic_t g_signal_sender = 0;

void note_sender(int /*signal*/, siginfo_t *info, void * /*context*/) {
    g_signal_sender = info->si_pid;
}

// The child signals the test process until it is stopped (5 s at most); the
// first signal ends the wait, which is not repeated: EINTR at once.
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

// Names reach tar and rm as one argument each; tar's exit status is not read,
// so a missing or damaged archive still yields 0.
TEST_F(CommandTest, ArchiveExtractionAndRemoval) {
    const std::string built =
        lkpsim::build_package(lkpsim::simple_package("p.tar.gz", 1), scratch_dir());
    const std::string dir = scratch_dir() + "/" + kShellBait;
    ASSERT_EQ(std::rename(built.c_str(), (dir + ".tar.gz").c_str()), 0);
    unit::make_dir(dir);
    EXPECT_EQ(tesvar::decompress_tar_gz((dir + ".tar.gz").c_str(), dir.c_str()), 0);
    EXPECT_EQ(directory_entries(dir + "/p"), (Names{"content", "fix_1.tar.gz"}));
    tesvar::rm_tmp_dir(dir.c_str());
    EXPECT_EQ(directory_entries(scratch_dir()), Names{kShellBait + ".tar.gz"});

    unit::make_dir(dir);
    unit::write_text(scratch_dir() + "/damaged.tar.gz", "this is not gzip data\n");
    CaptureStderr();  // tar's own complaints
    for (const char *archive : {"/missing.tar.gz", "/damaged.tar.gz"}) {
        EXPECT_EQ(tesvar::decompress_tar_gz((scratch_dir() + archive).c_str(), dir.c_str()), 0);
        EXPECT_EQ(directory_entries(dir), Names{}) << archive;
    }
    GetCapturedStderr();
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});
}

TEST_F(CommandTest, TemporaryDirectoriesAreDistinctPrivateAndRemovedQuietly) {
    const std::string first = unit::take_text(tesvar::create_tmp_dir());
    const std::string second = unit::take_text(tesvar::create_tmp_dir());
    EXPECT_NE(first, second);
    for (const std::string &dir : {first, second}) {
        struct stat status {};
        ASSERT_EQ(lstat(dir.c_str(), &status), 0) << dir;
        EXPECT_EQ(dir.substr(0, 9) + std::to_string(dir.size()), "/tmp/lkp_15");
        EXPECT_EQ(status.st_mode & (S_IFMT | 07777), S_IFDIR | 0700u);
    }
    unit::make_dir(first + "/unit");
    unit::write_text(first + "/unit/file", "x");
    tesvar::rm_tmp_dir(first.c_str());
    tesvar::rm_tmp_dir(second.c_str());
    EXPECT_NE(access(first.c_str(), F_OK), 0);
    EXPECT_NE(access(second.c_str(), F_OK), 0);
    tesvar::rm_tmp_dir(first.c_str());  // already gone: rm runs and fails quietly
    tesvar::rm_tmp_dir(nullptr);        // rm -rf with no operand
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});
}

}  // namespace
