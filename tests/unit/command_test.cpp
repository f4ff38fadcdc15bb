// External commands without a shell, temporary directories and archive
// extraction.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "frame/result_codes.h"
#include "kernel_test.h"
#include "lkpsim/package_builder.h"
#include "saved_action.h"
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

class CommandTest : public lkptest::KernelTest {
protected:
    // Runs /bin/sh -c script with the given arguments ($1...).
    static int shell(const std::string &script, std::vector<std::string> args = {}) {
        std::vector<std::string> words = {"/bin/sh", "-c", script, "sh"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        return tesvar::lkp_system_sec("/bin/sh", argv.data());
    }
};

TEST_F(CommandTest, ArgumentsReachTheProgramUnchangedWithEmptyEnvironment) {
    ASSERT_EQ(setenv("LKP_UNIT_PROBE", "1", 1), 0);
    const std::string out = scratch_dir() + "/out";
    EXPECT_EQ(shell("out=$1; shift; printf '<%s>' \"$@\" > \"$out\"; env >> \"$out\"",
                    {out, "x y", kShellBait, ""}),
              0);
    unsetenv("LKP_UNIT_PROBE");
    const std::string expected = "<x y><" + kShellBait + "><>";
    const std::string text = unit::read_text(out);
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_EQ(text.find("LKP_UNIT_PROBE"), std::string::npos) << text;
    EXPECT_FALSE(access((scratch_dir() + "/pwned").c_str(), F_OK) == 0);
}

TEST_F(CommandTest, ExitStatusOtherThanZeroIsTheCommandsFailure) {
    EXPECT_EQ(tesvar::cmd_exec("/bin/true", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(tesvar::cmd_exec("/bin/false", nullptr, nullptr, nullptr, nullptr),
              tesvar::COMMAND_FAILED);
    EXPECT_EQ(shell("exit 2"), tesvar::COMMAND_FAILED);
    EXPECT_EQ(shell("kill -KILL $$"), tesvar::COMMAND_FAILED);
}

// What the program writes never reaches the caller's own streams, and it
// reads nothing of the caller's standard input.
TEST_F(CommandTest, ProgramsNeverTouchTheCallersStandardStreams) {
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(shell("echo out; echo err >&2; read line; test -z \"$line\""), 0);
    EXPECT_EQ(tesvar::cmd_exec("/bin/rm", "/nonexistent/dir", nullptr, nullptr, nullptr),
              tesvar::COMMAND_FAILED);
    EXPECT_EQ(tesvar::decompress_tar_gz("/nonexistent.tar.gz", scratch_dir().c_str()),
              tesvar::LKP_INVALID_ARGUMENT);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(GetCapturedStdout(), "");
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
    EXPECT_EQ(result, tesvar::COMMAND_FAILED);
}

volatile sig_atomic_t g_signal_sender = 0;
volatile sig_atomic_t g_signals = 0;

void note_sender(int /*signal*/, siginfo_t *info, void * /*context*/) {
    g_signal_sender = info->si_pid;
    g_signals = g_signals + 1;
}

using lkptest::SavedAction;

// The child signals the test process 20 times, without SA_RESTART, then
// fails: the call still waits for it and reads its status.
TEST_F(CommandTest, InterruptedWaitIsRepeatedUntilTheChildEnds) {
    struct sigaction action {};
    action.sa_sigaction = note_sender;
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART
    const SavedAction saved(SIGUSR1, action);
    g_signals = 0;
    const char *script =
        "i=0; while [ $i -lt 20 ] && kill -USR1 $1; do i=$((i+1)); /bin/sleep 0.01; done; exit 3";
    EXPECT_EQ(shell(script, {std::to_string(getpid())}), tesvar::COMMAND_FAILED);
    // Signals of one kind that arrive while the calling thread blocks them
    // may be merged: at least one was handled.
    EXPECT_GT(g_signal_sender, 0);
    EXPECT_GT(g_signals, 0);
}

// Daemons often ignore SIGCHLD, so the kernel would reap their children:
// the runner's children are never auto-reaped and their status is read.
TEST_F(CommandTest, IgnoredSigchldLosesNoExitStatus) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    const SavedAction saved(SIGCHLD, ignore);
    EXPECT_EQ(tesvar::cmd_exec("/bin/true", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(tesvar::cmd_exec("/bin/false", nullptr, nullptr, nullptr, nullptr),
              tesvar::COMMAND_FAILED);
    struct sigaction no_wait {};
    no_wait.sa_handler = SIG_DFL;
    no_wait.sa_flags = SA_NOCLDWAIT;
    const SavedAction saved_no_wait(SIGCHLD, no_wait);
    EXPECT_EQ(tesvar::cmd_exec("/bin/true", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(tesvar::cmd_exec("/bin/false", nullptr, nullptr, nullptr, nullptr),
              tesvar::COMMAND_FAILED);
}

volatile sig_atomic_t g_reaped_by_handler = 0;
volatile sig_atomic_t g_sigchld_calls = 0;

void reap_everything(int /*signal*/) {
    const int saved_errno = errno;
    g_sigchld_calls = g_sigchld_calls + 1;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
        g_reaped_by_handler = g_reaped_by_handler + 1;
    }
    errno = saved_errno;
}

// A caller's SIGCHLD handler that reaps every child it can is never called
// for the runner's children, and cannot take their status away.
TEST_F(CommandTest, CallersSigchldHandlerIsNotDisturbed) {
    struct sigaction action {};
    action.sa_handler = reap_everything;
    const SavedAction saved(SIGCHLD, action);
    g_sigchld_calls = 0;
    g_reaped_by_handler = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tesvar::cmd_exec("/bin/true", nullptr, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(tesvar::cmd_exec("/bin/false", nullptr, nullptr, nullptr, nullptr),
                  tesvar::COMMAND_FAILED);
    }
    // A user-mode emulator cannot give a child an exit signal of its own, so
    // there the waiter is an ordinary child the handler sees (and may reap):
    // only the outcomes above hold.
    if (std::getenv("LKPSIM_EMULATOR") == nullptr) {
        EXPECT_EQ(g_sigchld_calls, 0);
        EXPECT_EQ(g_reaped_by_handler, 0);
    }
}

// The caller's handlers never run in the child, whose signals are the
// defaults (a handled SIGTERM ends it), and the caller's mask is kept.
TEST_F(CommandTest, ChildStartsWithDefaultHandlersAndTheCallersMask) {
    struct sigaction action {};
    action.sa_sigaction = note_sender;
    action.sa_flags = SA_SIGINFO;
    const SavedAction saved(SIGTERM, action);
    g_signals = 0;
    EXPECT_EQ(shell("kill -TERM $$; exit 0"), tesvar::COMMAND_FAILED);
    EXPECT_EQ(g_signals, 0);
    sigset_t blocked{};
    sigset_t before{};
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
    // Bit 12 (SIGUSR2 - 1) of the blocked mask, as the child's status shows it.
    EXPECT_EQ(shell("m=$(sed -n 's/^SigBlk:[[:space:]]*//p' /proc/self/status); "
                    "test $(( 0x$m & 0x800 )) -ne 0"),
              0);
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &before, nullptr), 0);
}

// Names reach tar and rm as one argument each; tar's failure is the
// extraction's failure.
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
    for (const char *archive : {"/missing.tar.gz", "/damaged.tar.gz"}) {
        EXPECT_EQ(tesvar::decompress_tar_gz((scratch_dir() + archive).c_str(), dir.c_str()),
                  tesvar::LKP_INVALID_ARGUMENT);
        EXPECT_EQ(directory_entries(dir), Names{}) << archive;
    }
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});
}

// A relative archive path is never an option, standard input or a remote
// host: "-", "--help" and "host:file" are files in the working directory.
TEST_F(CommandTest, RelativeArchivePathsAreLocalFiles) {
    const std::string built =
        lkpsim::build_package(lkpsim::simple_package("p.tar.gz", 1), scratch_dir());
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(scratch_dir().c_str()), 0);
    for (const char *name : {"-", "--help", "host:file", "-xvf"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(std::rename(built.c_str(), (scratch_dir() + "/" + name).c_str()), 0);
        const std::string dir = scratch_dir() + "/out";
        unit::make_dir(dir);
        EXPECT_EQ(tesvar::decompress_tar_gz(name, dir.c_str()), 0);
        EXPECT_EQ(directory_entries(dir + "/p"), (Names{"content", "fix_1.tar.gz"}));
        tesvar::rm_tmp_dir(dir.c_str());
        ASSERT_EQ(std::rename((scratch_dir() + "/" + name).c_str(), built.c_str()), 0);
    }
    ASSERT_EQ(chdir(cwd), 0);
}

// No extracted file grows beyond the limit: tar fails at it.
TEST_F(CommandTest, ExtractedFileOverTheLimitFailsTheExtraction) {
    const std::string source = scratch_dir() + "/src";
    unit::make_dir(source);
    {
        std::ofstream big(source + "/big.ko", std::ios::binary);
        big.seekp(tesvar::MAX_EXTRACTED_FILE_SIZE);  // one byte over
        big.put('x');
    }
    const std::string archive = scratch_dir() + "/big.tar.gz";
    EXPECT_EQ(shell("/bin/tar -czf \"$1\" -C \"$2\" big.ko", {archive, source}), 0);
    const std::string dir = scratch_dir() + "/out";
    unit::make_dir(dir);
    EXPECT_EQ(tesvar::decompress_tar_gz(archive.c_str(), dir.c_str()),
              tesvar::LKP_INVALID_ARGUMENT);
    struct stat status {};
    if (stat((dir + "/big.ko").c_str(), &status) == 0) {
        EXPECT_LE(status.st_size, tesvar::MAX_EXTRACTED_FILE_SIZE);
    }
    tesvar::rm_tmp_dir(dir.c_str());
    tesvar::rm_tmp_dir(source.c_str());
    std::remove(archive.c_str());
}

// rm that runs and fails says so, like rm that cannot run: a mount point
// inside the directory cannot be removed.
TEST_F(CommandTest, RmThatFailsIsLogged) {
    tesvar::Fd owner;
    const std::string dir = unit::take_text(tesvar::create_tmp_dir(&owner));
    unit::make_dir(dir + "/busy");
    ASSERT_EQ(mount("none", (dir + "/busy").c_str(), "tmpfs", 0, nullptr), 0);
    tesvar::rm_tmp_dir(dir.c_str());
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{"[LKP-ERR]:Failed to rm " + dir + "."});
    ASSERT_EQ(umount((dir + "/busy").c_str()), 0);
    tesvar::rm_tmp_dir(dir.c_str());
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});
    EXPECT_NE(access(dir.c_str(), F_OK), 0);
}

TEST_F(CommandTest, TemporaryDirectoriesAreDistinctPrivateAndRemovedQuietly) {
    tesvar::Fd first_owner;
    tesvar::Fd second_owner;
    const std::string first = unit::take_text(tesvar::create_tmp_dir(&first_owner));
    const std::string second = unit::take_text(tesvar::create_tmp_dir(&second_owner));
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
    tesvar::rm_tmp_dir(first.c_str());  // already gone: "rm -rf" succeeds
    tesvar::rm_tmp_dir(nullptr);        // rm -rf with no operand
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});
}

// The directories a killed process left are found by their free lock and
// removed; one in use (its lock held, here by this process's TmpDir), a link,
// a file, another user's directory and other names are never touched.
TEST_F(CommandTest, StaleTemporaryDirectoriesAreFoundByTheirFreeLock) {
    const tesvar::TmpDir in_use;
    ASSERT_TRUE(in_use);
    char stale[] = "/tmp/lkp_XXXXXX";
    ASSERT_NE(mkdtemp(stale), nullptr);
    unit::write_text(std::string(stale) + "/left", "x");
    char foreign[] = "/tmp/lkp_XXXXXX";
    ASSERT_NE(mkdtemp(foreign), nullptr);
    ASSERT_EQ(chown(foreign, 4242, 4242), 0);
    ASSERT_EQ(symlink(stale, "/tmp/lkp_link00"), 0);
    unit::write_text("/tmp/lkp_file00", "x");
    unit::make_dir("/tmp/lkp_short");

    std::vector<std::string> seen;
    const auto collect = [](const char *path, void *context) {
        static_cast<std::vector<std::string> *>(context)->emplace_back(path);
    };
    // Looking does not take: the stale one is reported and stays.
    EXPECT_EQ(tesvar::visit_stale_tmp_dirs(false, collect, &seen), 1);
    EXPECT_EQ(seen, std::vector<std::string>{stale});
    EXPECT_EQ(access(stale, F_OK), 0);
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});

    seen.clear();
    EXPECT_EQ(tesvar::visit_stale_tmp_dirs(true, collect, &seen), 1);
    EXPECT_EQ(seen, std::vector<std::string>{stale});
    EXPECT_NE(access(stale, F_OK), 0);
    EXPECT_EQ(lkpsim::take_log_texts(),
              unit::Lines{"[LKP-INFO]:Removed the stale directory " + std::string(stale) + "."});
    for (const char *kept :
         {in_use.path(), static_cast<const char *>(foreign), "/tmp/lkp_file00", "/tmp/lkp_short"}) {
        EXPECT_EQ(access(kept, F_OK), 0) << kept;
    }
    struct stat link_status {};
    EXPECT_EQ(lstat("/tmp/lkp_link00", &link_status), 0);
    EXPECT_EQ(tesvar::visit_stale_tmp_dirs(true, nullptr, nullptr), 0);

    ASSERT_EQ(unlink("/tmp/lkp_link00"), 0);
    ASSERT_EQ(unlink("/tmp/lkp_file00"), 0);
    ASSERT_EQ(rmdir("/tmp/lkp_short"), 0);
    ASSERT_EQ(rmdir(foreign), 0);
}

// A directory is locked from the moment its maker hands it out.
TEST_F(CommandTest, NewTemporaryDirectoryIsLockedByItsMaker) {
    tesvar::TmpDir dir;
    ASSERT_TRUE(dir);
    const int other = open(dir.path(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_SH | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    const std::string path = dir.path();
    dir.remove();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0) << "let go when removed";
    close(other);
    EXPECT_EQ(lkpsim::take_log_texts(), unit::Lines{});
}

}  // namespace
