// A signal disposition set for one test and put back when the test is done.
#ifndef LKPTEST_SAVED_ACTION_H
#define LKPTEST_SAVED_ACTION_H

#include <gtest/gtest.h>

#include <csignal>

namespace lkptest {

class SavedAction {
public:
    SavedAction(int signal_number, const struct sigaction &action) : signal_(signal_number) {
        EXPECT_EQ(sigaction(signal_, &action, &saved_), 0);
    }
    ~SavedAction() { EXPECT_EQ(sigaction(signal_, &saved_, nullptr), 0); }
    SavedAction(const SavedAction &) = delete;
    SavedAction &operator=(const SavedAction &) = delete;

private:
    int signal_;
    struct sigaction saved_ {};
};

}  // namespace lkptest

#endif
