// Two library callers in processes of their own at once, round after round,
// through the real libtesvar.so (library_call): two removals of two
// packages, and two first loads racing to insert the manager module. Every
// interleaving must give the same outcome: each call succeeds, nothing is
// left behind, and no caller sees the kernel's two files disagree. On the
// upstream kernel a package is switched off before it is removed.
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"
#include "tesvar.h"

namespace {

using Lines = std::vector<std::string>;

constexpr int ROUNDS = 20;
constexpr const char *PKG_A = "race_a.tar.gz";
constexpr const char *PKG_B = "race_b.tar.gz";
const std::string kDisagreement = "The record is different";

// What one caller's process answered.
struct Answer {
    int status = -1;
    std::string out;
    std::string err;
};

class ConcurrentCallers : public lkptest::KernelTest {
protected:
    // The two packages, of this many patches each.
    void build_packages(int patches) {
        path_a_ =
            lkpsim::build_package(lkpsim::simple_package(PKG_A, patches, "a_"), scratch_dir());
        path_b_ =
            lkpsim::build_package(lkpsim::simple_package(PKG_B, patches, "b_"), scratch_dir());
        ASSERT_FALSE(path_a_.empty());
        ASSERT_FALSE(path_b_.empty());
    }

    // Runs `call` on the two arguments in two processes at once; the round's
    // own directory lets each wait for the other before its call.
    std::vector<Answer> at_once(int round, const std::string &call, const std::string &first,
                                const std::string &second) {
        const std::string dir = scratch_dir() + "/round" + std::to_string(round) + call;
        EXPECT_EQ(mkdir(dir.c_str(), 0700), 0) << dir;
        std::vector<Answer> answers(2);
        const std::string arguments[] = {first, second};
        std::vector<std::thread> callers;
        for (int i = 0; i < 2; ++i) {
            callers.emplace_back([&, i] {
                answers[i].status = lkptest::run_words(
                    {LIBRARY_CALL_PATH, dir, std::to_string(i), "2", call, arguments[i]},
                    &answers[i].out, &answers[i].err);
            });
        }
        for (std::thread &caller : callers) {
            caller.join();
        }
        return answers;
    }

    // Both answered 0 (the call's result is the process's output).
    static void expect_both_succeeded(const std::vector<Answer> &answers) {
        for (const Answer &answer : answers) {
            EXPECT_EQ(answer.status, 0) << answer.err;
            EXPECT_EQ(answer.out, "0\n");
        }
    }

    // No line of the round says the files disagree, or any other error.
    static void expect_no_error_line() {
        for (const std::string &line : lkpsim::take_log_texts()) {
            EXPECT_EQ(line.find(kDisagreement), std::string::npos) << line;
            EXPECT_EQ(line.find("[LKP-ERR]"), std::string::npos) << line;
        }
    }

    // Upstream a loaded package is enabled and must be switched off before
    // its removal.
    static void switch_off_if_upstream() {
        if (lkpsim::upstream_by_default()) {
            ASSERT_EQ(navo_lkp_deactivate(PKG_A), 0);
            ASSERT_EQ(navo_lkp_deactivate(PKG_B), 0);
        }
    }

    std::string path_a_;
    std::string path_b_;
};

// Item: two processes remove two packages at once; both go, whole.
TEST_F(ConcurrentCallers, TwoRemovalsAtOnceBothSucceed) {
    build_packages(2);
    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(navo_lkp_load(path_a_.c_str()), 0);
        ASSERT_EQ(navo_lkp_load(path_b_.c_str()), 0);
        switch_off_if_upstream();
        lkpsim::take_log();

        expect_both_succeeded(at_once(round, "remove", PKG_A, PKG_B));
        expect_no_error_line();
        EXPECT_EQ(lkpsim::records(), Lines{});
        ASSERT_EQ(lkpsim::inserted_modules(), Lines{"tesvar"});
    }
}

// Two first loads race while the manager module is not inserted: the one
// whose insertion of it comes second finds it there, and both loads succeed.
TEST_F(ConcurrentCallers, TwoFirstLoadsWithoutTheManagerBothSucceed) {
    build_packages(1);
    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE(round);
        lkpsim::set_manager(lkpsim::Manager::AbsentInsertable);
        ASSERT_FALSE(lkpsim::module_inserted("tesvar"));
        lkpsim::clear_history();
        lkpsim::take_log();

        expect_both_succeeded(at_once(round, "load", path_a_, path_b_));
        expect_no_error_line();
        Lines managers;
        for (const std::string &line : lkpsim::history("init")) {
            if (line.rfind("init tesvar ", 0) == 0) {
                managers.push_back(line);
            }
        }
        // One insertion of the manager made it; a second, if any, found it there.
        ASSERT_FALSE(managers.empty());
        EXPECT_EQ(managers.front(), "init tesvar 0");
        for (std::size_t i = 1; i < managers.size(); ++i) {
            EXPECT_EQ(managers[i], "init tesvar -17");
        }
        Lines records = lkpsim::records();  // in either order
        std::sort(records.begin(), records.end());
        EXPECT_EQ(records, (Lines{"1,race_a.tar.gz,a_1", "1,race_b.tar.gz,b_1"}));
        EXPECT_TRUE(lkpsim::module_inserted("tesvar"));

        switch_off_if_upstream();
        ASSERT_EQ(navo_lkp_remove(PKG_A), 0);
        ASSERT_EQ(navo_lkp_remove(PKG_B), 0);
        ASSERT_EQ(lkpsim::records(), Lines{});
    }
}

}  // namespace
