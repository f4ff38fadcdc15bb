// Running lkpctl (and lkpsim) as subprocesses on the simulated kernel side,
// and the fixture of the tool tests.
#ifndef LKPTEST_TOOL_SUPPORT_H
#define LKPTEST_TOOL_SUPPORT_H

#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"

// Skips a test on the upstream kernel model's run (lkpctl_test_upstream),
// saying why: its scenes are the default model's, where a load leaves a
// package disabled and a disabled patch can be enabled again. Each such test
// names the test that covers the upstream model, where there is one.
#define LKPTEST_DEFAULT_KERNEL_ONLY(reason)                            \
    do {                                                               \
        if (lkpsim::upstream_by_default()) {                           \
            GTEST_SKIP() << "default kernel model only: " << (reason); \
        }                                                              \
    } while (false)

namespace lkptest {

// What a program run printed and how it ended.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The program built at built_path (LKPCTL_PATH, LKPSIM_PATH), found at the
// same place relative to this test executable, so that a copy of the build
// tree runs its own copy.
std::string built_program(const std::string &built_path);

// Runs program with args inside the namespace, its module calls answered by
// the simulated kernel side, and collects its output.
// The words that start a program of this test's own architecture: the
// user-mode emulator's when the suite runs emulated ($LKPSIM_EMULATOR, as
// lkpsim::run_program uses it), none natively. A host program (sh, timeout)
// that starts lkpctl needs them before lkpctl's path.
std::vector<std::string> emulator_words();

ToolRun run_tool(const std::string &program, const std::vector<std::string> &args);

// The bytes of a file ("" when it cannot be read).
std::string file_bytes(const std::string &path);

// Messages of the result codes the tool reports most.
extern const char *const MSG_INVALID;         // -257
extern const char *const MSG_FILE_MISSING;    // -266
extern const char *const MSG_ALREADY_LOADED;  // -267
extern const char *const MSG_NOT_LOADED;      // -272

// What the tool says when the patch manager is not loaded and its module
// file is missing too.
std::string manager_missing();

// One command and what it must print and return.
struct Expected {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

// Checks run against want, naming the command line on failure.
void expect_run(const ToolRun &run, const Expected &want);

// The stderr line of a failed operation: "lkpctl: load: -266: File does not exist.\n".
std::string failure(const std::string &command, int code, const std::string &message);
// The one line --json prints; details is a JSON array, or "" for none.
std::string json_line(const std::string &command, int result, const std::string &message,
                      const std::string &data, const std::string &details = "");

class ToolTest : public KernelTest {
protected:
    // text with each "%D" replaced by this test's scratch directory.
    std::string expand(std::string text);
    // lkpctl with args, "%D" expanded.
    ToolRun lkpctl(const std::vector<std::string> &args);
    // Runs and checks each step in turn, "%D" expanded in args, out and err.
    void run_steps(const std::vector<Expected> &steps);
    // Builds a package in the scratch directory and returns its path.
    std::string build(const lkpsim::PackageSpec &spec);
    // A package of units fix_1.ko, fix_2.ko ..., unit k patching targets[k-1].
    std::string build_simple(const std::string &file_name, const std::vector<std::string> &targets,
                             const std::string &prefix = "fix_");
};

// The running kernel's release (uname -r): the store's directory name.
std::string running_release();

// The operators' store below the tests' --root (%D/root).
std::string store();

}  // namespace lkptest

#endif
