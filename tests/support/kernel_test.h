// The fixture of tests that run against the simulated kernel side: each test
// starts on the default kernel, and must leave no temporary directory, no
// open descriptor and no file in /tmp behind.
#ifndef LKPTEST_KERNEL_TEST_H
#define LKPTEST_KERNEL_TEST_H

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace lkptest {

// What a test may leave behind: open descriptors (each with what it refers
// to) and the entries of /tmp.
struct ProcessSnapshot {
    std::map<int, std::string> descriptors;
    std::set<std::string> tmp_entries;

    static ProcessSnapshot take();
};

// One message per thing left behind since `before`: a "/tmp/lkp_*" entry, a
// changed /tmp, a new open descriptor.
std::vector<std::string> leftovers(const ProcessSnapshot &before);

class KernelTest : public ::testing::Test {
protected:
    // Subclasses that override these call them first (SetUp) and last (TearDown).
    void SetUp() override;
    void TearDown() override;

    // A directory of this test's own for the files it builds (packages,
    // module files), outside /tmp; made on first use, removed at TearDown.
    std::string scratch_dir();

private:
    ProcessSnapshot before_;
    std::string scratch_;
};

// True when this process runs under valgrind (whose preload library it has).
bool under_valgrind();

// The open descriptors of this process, each with what it refers to.
std::map<int, std::string> open_descriptors();
// lkpsim::run_program with the words as its argument vector.
int run_words(std::vector<std::string> words, std::string *out, std::string *err);
// The names in a directory, without "." and ".." (none when it cannot be read).
std::set<std::string> directory_entries(const std::string &dir);

}  // namespace lkptest

#endif
