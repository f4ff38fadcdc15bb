// Loads under the signal set-ups of real callers: SIGCHLD ignored, a SIGCHLD
// handler that reaps every child, signals without SA_RESTART arriving all
// along; an rm that runs and fails. tar and rm are waited for, their status
// read, and no child outlives the call.
#include <dirent.h>
#include <pthread.h>
#include <sys/mount.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "load_support.h"
#include "saved_action.h"

namespace loadtest {
namespace {

const Lines kLoaded = installed(PKG, {"fix_1", "fix_2"});

// Every child of every thread of this process.
std::set<pid_t> children() {
    std::set<pid_t> pids;
    const std::unique_ptr<DIR, int (*)(DIR *)> tasks(opendir("/proc/self/task"), closedir);
    if (!tasks) {
        return pids;
    }
    while (const dirent *task = readdir(tasks.get())) {
        if (task->d_name[0] == '.') {
            continue;
        }
        std::ifstream list(std::string("/proc/self/task/") + task->d_name + "/children");
        for (pid_t pid = 0; list >> pid;) {
            pids.insert(pid);
        }
    }
    return pids;
}

class Children : public LoadTest {
protected:
    void SetUp() override {
        LoadTest::SetUp();
        path_ = build(package({"fix_1.ko", "fix_2.ko"}));
        forget_events();
        before_ = children();
    }
    void TearDown() override {
        EXPECT_EQ(children(), before_) << "a child outlived the call";
        LoadTest::TearDown();
    }
    // The package loads exactly as it does for any caller.
    void expect_clean_load() {
        EXPECT_EQ(navo_lkp_load(path_.c_str()), 0);
        expect_events(kLoaded, {info("LKP-LOAD:Success to load.")});
    }

    std::string path_;
    std::set<pid_t> before_;
};

using lkptest::SavedAction;

TEST_F(Children, LoadWithSigchldIgnored) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    const SavedAction saved(SIGCHLD, ignore);
    expect_clean_load();
}

std::atomic<int> g_sigchld_calls{0};

void reap_everything(int /*signal*/) {
    const int saved_errno = errno;
    g_sigchld_calls.fetch_add(1);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved_errno;
}

TEST_F(Children, LoadWithReapingSigchldHandler) {
    struct sigaction action {};
    action.sa_handler = reap_everything;
    action.sa_flags = SA_RESTART;
    const SavedAction saved(SIGCHLD, action);
    g_sigchld_calls = 0;
    expect_clean_load();
    // Under a user-mode emulator the waiter is an ordinary child (no exit
    // signal of its own there), so only the clean load holds.
    if (std::getenv("LKPSIM_EMULATOR") == nullptr) {
        EXPECT_EQ(g_sigchld_calls.load(), 0) << "the library's children signalled the caller";
    }
}

std::atomic<int> g_interruptions{0};

void count_interruption(int /*signal*/) {
    g_interruptions.fetch_add(1);
}

// A signal without SA_RESTART arrives at the loading thread every
// millisecond while the load runs: the load is the same.
TEST_F(Children, LoadWhileSignalsWithoutRestartArrive) {
    struct sigaction action {};
    action.sa_handler = count_interruption;  // no SA_RESTART
    const SavedAction saved(SIGUSR1, action);
    g_interruptions = 0;
    const pthread_t loader = pthread_self();
    std::atomic<bool> done{false};
    std::thread sender([&] {
        while (!done.load()) {
            pthread_kill(loader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const int32_t rc = navo_lkp_load(path_.c_str());
    done = true;
    sender.join();
    EXPECT_EQ(rc, 0);
    expect_events(kLoaded, {info("LKP-LOAD:Success to load.")});
    EXPECT_GT(g_interruptions.load(), 0);
}

// /bin/rm runs and fails (here: it is /bin/false): the modules are in, the
// load succeeded, and each directory left behind is named once.
TEST_F(Children, RmThatFailsLeavesTheLoadASuccess) {
    ASSERT_EQ(mount("/bin/false", "/bin/rm", "none", MS_BIND, nullptr), 0);
    const int32_t rc = navo_lkp_load(path_.c_str());
    std::vector<std::string> left;
    for (const lkpsim::LogLine &line : lkpsim::take_log()) {
        left.push_back(line.text);
    }
    ASSERT_EQ(umount("/bin/rm"), 0);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lkpsim::history(), kLoaded);
    ASSERT_EQ(left.size(), 4u) << ::testing::PrintToString(left);
    // Each unit's directory, then the package's extraction directory.
    const std::regex failed_rm("\\[LKP-ERR\\]:Failed to rm (/tmp/lkp_[A-Za-z0-9]{6})\\.\n");
    for (size_t i = 0; i < 3; ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(left[i], match, failed_rm)) << left[i];
        EXPECT_EQ(access(match[1].str().c_str(), F_OK), 0) << "reported but gone";
        std::error_code error;
        EXPECT_GT(std::filesystem::remove_all(match[1].str(), error), 0u) << error.message();
    }
    EXPECT_EQ(left[3], "[LKP-INFO]:LKP-LOAD:Success to load.\n");
}

}  // namespace
}  // namespace loadtest
