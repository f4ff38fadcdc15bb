// Concurrent callers: while threads of this process and a second process
// load and remove other packages, state queries, activation, removal, loads,
// the owner query and strerror on one steady package must never see the
// kernel's files torn (a spurious 9 or -257). Upstream a loaded package is
// enabled and must be switched off before its removal, and a patch switched
// off is freed for good: there every removal is preceded by a deactivation
// and the steady package is only activated (each time a skip that reads the
// kernel's files).
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"
#include "tesvar.h"

namespace {

constexpr int CHURN_ROUNDS = 25;
constexpr const char *STEADY = "steady.tar.gz";

class Concurrency : public lkptest::KernelTest {
protected:
    std::string build(const std::string &file_name, const std::string &prefix) {
        return lkpsim::build_package(lkpsim::simple_package(file_name, 2, prefix), scratch_dir());
    }
};

// Removes a loaded package: upstream it is switched off first.
int32_t unload(const char *name) {
    if (lkpsim::upstream_by_default()) {
        const int32_t rc = navo_lkp_deactivate(name);
        if (rc != 0) {
            return rc;
        }
    }
    return navo_lkp_remove(name);
}

// Loads and removes a package of its own, counting the calls that fail.
void churn(const std::string &path, const char *name, std::atomic<int> *failures) {
    for (int round = 0; round < CHURN_ROUNDS; ++round) {
        if (navo_lkp_load(path.c_str()) != 0 || unload(name) != 0) {
            ++*failures;
        }
    }
}

// The same from other processes, through lkpctl: a failed run's output.
std::string churn_in_other_processes(const std::string &path) {
    std::string failures;
    std::vector<std::vector<std::string>> steps{{LKPCTL_PATH, "load", path}};
    if (lkpsim::upstream_by_default()) {
        steps.push_back({LKPCTL_PATH, "deactivate", "other.tar.gz"});
    }
    steps.push_back({LKPCTL_PATH, "remove", "other.tar.gz"});
    for (int round = 0; round < CHURN_ROUNDS; ++round) {
        for (const std::vector<std::string> &words : steps) {
            std::string out;
            std::string err;
            if (lkptest::run_words(words, &out, &err) != 0) {
                failures += words[1] + ": " + err;
            }
        }
    }
    return failures;
}

TEST_F(Concurrency, NoTornReadsWhileOthersLoadAndRemove) {
    if (lkptest::under_valgrind()) {
        GTEST_SKIP() << "under valgrind the command runner's waiter is a fork, which can "
                        "deadlock inside valgrind while other threads run";
    }
    const std::string steady = build(STEADY, "s_");
    const std::string mine = build("mine.tar.gz", "m_");
    const std::string other = build("other.tar.gz", "o_");
    const std::string again = build("again.tar.gz", "a_");
    ASSERT_EQ(navo_lkp_load(steady.c_str()), 0);

    std::atomic<bool> done{false};
    std::atomic<int> churn_failures{0};
    std::atomic<int> bad_states{0};
    std::atomic<int> bad_switches{0};
    std::atomic<int> bad_loads{0};
    std::atomic<int> bad_owners{0};
    std::atomic<int> queries{0};
    std::string other_failures;

    std::vector<std::thread> threads;
    threads.emplace_back(churn, mine, "mine.tar.gz", &churn_failures);
    threads.emplace_back([&] { other_failures = churn_in_other_processes(other); });
    threads.emplace_back([&] {
        while (!done) {
            const int32_t state = navo_lkp_state(STEADY);
            bad_states += state != 2 && state != 5 ? 1 : 0;
            ++queries;
        }
    });
    threads.emplace_back([&] {
        const bool only_activate = lkpsim::upstream_by_default();
        for (int round = 0; !done; ++round) {
            const int32_t rc = round % 2 == 0 || only_activate ? navo_lkp_activate(STEADY)
                                                               : navo_lkp_deactivate(STEADY);
            bad_switches += rc != 0 ? 1 : 0;
        }
    });
    // Loads and removals of a package nobody else touches, and the queries
    // that read the kernel without a check.
    threads.emplace_back([&] {
        char owner[64] = {};
        while (!done) {
            bad_loads += navo_lkp_load(again.c_str()) != 0 || unload("again.tar.gz") != 0;
            bad_owners += navo_lkp_last_patch_for_module("vmlinux", owner, sizeof owner) != 0;
            bad_owners += std::strcmp(navo_lkp_strerror(-257),
                                      "Invalid arguments:NULL-pointer,zero-size...") != 0;
        }
    });

    threads[0].join();
    threads[1].join();
    done = true;
    for (size_t i = 2; i < threads.size(); ++i) {
        threads[i].join();
    }

    EXPECT_EQ(churn_failures, 0);
    EXPECT_EQ(other_failures, "");
    EXPECT_GT(queries, 0);
    EXPECT_EQ(bad_states, 0);
    EXPECT_EQ(bad_switches, 0);
    EXPECT_EQ(bad_loads, 0);
    EXPECT_EQ(bad_owners, 0);
    EXPECT_EQ(unload(STEADY), 0);
    EXPECT_EQ(lkpsim::records(), std::vector<std::string>{});
    for (const std::string &line : lkpsim::take_log_texts()) {
        EXPECT_EQ(line.find("[LKP-ERR]"), std::string::npos) << line;
    }
}

}  // namespace
