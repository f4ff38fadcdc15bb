// Descriptors children inherit: while each operation runs again and again,
// another thread keeps starting a child that lists its open descriptors. No
// child may hold a kernel file, a module file, a package or a lock file of
// the library: everything the library opens is close-on-exec.
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"
#include "lkpsim/package_builder.h"
#include "tesvar.h"

namespace {

constexpr int ROUNDS = 4;
constexpr const char *PKG = "hotfix_01.tar.gz";

// The files the library opens: the kernel's files, the lock, extraction
// directories, and package and module files (by their ends).
const char *const LIBRARY_PATHS[] = {"/proc/navo_lkp_list", "/proc/livepatch/",
                                     "/sys/kernel/livepatch/", "/run/tesvar-kernel-files.lock",
                                     "/tmp/lkp_"};
const char *const LIBRARY_SUFFIXES[] = {".ko", ".tar.gz", "/content"};

// Whether a line of "ls -l /proc/self/fd/" names one of them.
bool names_library_file(const std::string &line) {
    const size_t arrow = line.find(" -> ");
    if (arrow == std::string::npos) {
        return false;
    }
    const std::string target = line.substr(arrow + 4);
    for (const char *path : LIBRARY_PATHS) {
        if (target.find(path) != std::string::npos) {
            return true;
        }
    }
    for (const std::string suffix : LIBRARY_SUFFIXES) {
        if (target.size() >= suffix.size() &&
            target.compare(target.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return true;
        }
    }
    return false;
}

// Starts children that list their descriptors until stopped; keeps every
// listed line that names one of the library's files.
class DescriptorSpy {
public:
    DescriptorSpy() : thread_([this] { run(); }) {}
    ~DescriptorSpy() { stop(); }

    void stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    const std::vector<std::string> &found() const { return found_; }
    int children() const { return children_; }

private:
    void run() {
        while (!stop_) {
            std::string out;
            std::string err;
            lkptest::run_words({"/bin/ls", "-l", "/proc/self/fd/"}, &out, &err);
            ++children_;
            std::istringstream lines(out);
            for (std::string line; std::getline(lines, line);) {
                if (names_library_file(line)) {
                    found_.push_back(line);
                }
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> children_{0};
    std::vector<std::string> found_;
    std::thread thread_;
};

class CloseOnExec : public lkptest::KernelTest {};

TEST_F(CloseOnExec, NoChildInheritsTheLibrarysFiles) {
    if (lkptest::under_valgrind()) {
        GTEST_SKIP() << "under valgrind the command runner's waiter is a fork, which can "
                        "deadlock inside valgrind while other threads run";
    }
    const std::string package =
        lkpsim::build_package(lkpsim::simple_package(PKG, 2), scratch_dir());
    // Upstream a loaded package starts enabled, and a live patch module
    // inserted alone would hold itself until switched off: "solo" is a plain
    // module there.
    const bool upstream = lkpsim::upstream_by_default();
    const std::string module = scratch_dir() + "/solo.ko";
    lkpsim::ModuleSpec solo;
    solo.name = "solo";
    solo.livepatch = !upstream;
    ASSERT_TRUE(lkpsim::write_module_file(module, solo));
    char owner[64] = {};

    DescriptorSpy spy;
    for (int round = 0; round < ROUNDS; ++round) {
        EXPECT_EQ(navo_lkp_preload(package.c_str()), 0);
        EXPECT_EQ(navo_lkp_validate(package.c_str()), 0);
        EXPECT_EQ(navo_lkp_load(package.c_str()), 0);
        EXPECT_EQ(navo_lkp_state(PKG), upstream ? 5 : 2);
        EXPECT_EQ(navo_lkp_activate(PKG), 0);
        EXPECT_EQ(navo_lkp_last_patch_for_module("vmlinux", owner, sizeof owner), 0);
        EXPECT_EQ(navo_lkp_deactivate(PKG), 0);
        EXPECT_EQ(navo_lkp_remove(PKG), 0);
        EXPECT_EQ(navo_lkp_insmod(module.c_str()), 0);
        EXPECT_EQ(navo_lkp_rmmod("solo"), 0);
    }
    spy.stop();

    EXPECT_GT(spy.children(), 0);
    EXPECT_EQ(spy.found(), std::vector<std::string>{});
    lkpsim::take_log();
}

}  // namespace
