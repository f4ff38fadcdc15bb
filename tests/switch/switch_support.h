// Shared helpers of the switching, state and owner query tests: scenes
// arranged directly on the simulated kernel side, and the system log as sent.
#ifndef TESVAR_TESTS_SWITCH_SWITCH_SUPPORT_H
#define TESVAR_TESTS_SWITCH_SWITCH_SUPPORT_H

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace switch_test {

using Lines = std::vector<std::string>;

constexpr const char *PKG_A = "pkgA.tar.gz";
constexpr const char *PKG_B = "pkgB.tar.gz";

// One registered patch of a scene.
struct Patch {
    std::string pkg;
    std::string name;
    std::string state = "disabled";
    std::vector<std::string> targets{"vmlinux"};
};

// Inserts and registers the patches in this order (the control file's
// order) with their state words, then forgets history and log, so that a
// test sees only what the library does.
inline void arrange(const std::vector<Patch> &patches) {
    for (const Patch &patch : patches) {
        lkpsim::insert_patch(patch.name, patch.targets);
        lkpsim::register_patch(static_cast<int>(patches.size()), patch.pkg, patch.name);
        lkpsim::set_patch_state(patch.name, patch.state);
    }
    lkpsim::clear_history();
    lkpsim::take_log();
}

// The system log lines sent since the last call, each as sent: level prefix,
// message and the line's newline. Every line must go out at LOG_INFO.
inline Lines logged() {
    Lines texts;
    for (const lkpsim::LogLine &line : lkpsim::take_log()) {
        EXPECT_EQ(line.priority, LOG_INFO) << line.text;
        texts.push_back(line.text);
    }
    return texts;
}

inline std::string info(const std::string &message) {
    return "[LKP-INFO]:" + message + "\n";
}
inline std::string err(const std::string &message) {
    return "[LKP-ERR]:" + message + "\n";
}

// A state file in the simulator's shape whose record lines are given.
inline std::string state_file(const std::string &records) {
    return "livepatch state\nnum\tpatch\tstate\n" + records;
}

inline Lines operator+(Lines first, const Lines &second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const std::string NOT_EXISTENT = err("open_file: The file is not existent.");
const std::string MISMATCH =
    err("The record is different between /proc/navo_lkp_list and /proc/livepatch/state.");

}  // namespace switch_test

#endif
