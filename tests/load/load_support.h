// Shared helpers of the load and removal tests: packages built in the test's
// scratch directory, log lines with their level prefix (each checked for
// priority LOG_INFO), and the kernel side's history.
#ifndef TESVAR_TESTS_LOAD_LOAD_SUPPORT_H
#define TESVAR_TESTS_LOAD_LOAD_SUPPORT_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"
#include "tesvar.h"

namespace loadtest {

using Lines = std::vector<std::string>;
using lkpsim::PackageSpec;
using lkpsim::UnitSpec;

constexpr int32_t INVALID_ARGUMENT = -257;
constexpr int32_t TARGET_NOT_LOADED = -265;
constexpr int32_t FILE_MISSING = -266;
constexpr int32_t ALREADY_LOADED = -267;
constexpr int32_t CLOSE_FAILED = -270;
constexpr int32_t NO_PATCHES = -272;
constexpr int32_t NO_LIVEPATCH = -323;

constexpr const char *PKG = "hotfix_01.tar.gz";
constexpr int LOG_INFO_PRIORITY = 6;

inline std::string err(const std::string &message) {
    return "[LKP-ERR]:" + message;
}
inline std::string info(const std::string &message) {
    return "[LKP-INFO]:" + message;
}

inline Lines operator+(Lines first, const Lines &second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The log lines since the last call, each checked for priority LOG_INFO and
// its one line feed, with every /tmp/lkp_XXXXXX directory name masked.
inline Lines take_log() {
    static const std::regex tmp_dir("/tmp/lkp_[A-Za-z0-9]{6}");
    Lines texts;
    for (const lkpsim::LogLine &line : lkpsim::take_log()) {
        EXPECT_EQ(line.priority, LOG_INFO_PRIORITY) << line.text;
        std::string text = line.text;
        EXPECT_FALSE(text.empty() || text.back() != '\n') << text;
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        texts.push_back(std::regex_replace(text, tmp_dir, "/tmp/lkp_XXXXXX"));
    }
    return texts;
}

// Whether this run has the upstream kernel model (the <name>_upstream run of
// a BOTH_KERNELS test, see tests/CMakeLists.txt): there an inserted patch is
// enabled by its insertion.
inline bool upstream_kernel() {
    return lkpsim::upstream_by_default();
}

// The enable write that switches an inserted patch off before its module is
// removed in a rollback: upstream only, where the insertion enabled it.
inline Lines switched_off(const std::string &patch) {
    return upstream_kernel() ? Lines{"enable " + patch + " 0"} : Lines{};
}

// The enable writes of switching a package's patches off (given newest
// first) before its removal: upstream only, where they are enabled.
inline Lines switched_off_first(const Lines &newest_first) {
    Lines lines;
    for (const std::string &patch : newest_first) {
        const Lines one = switched_off(patch);
        lines.insert(lines.end(), one.begin(), one.end());
    }
    return lines;
}

// The log line of that switching off: upstream only.
inline Lines deactivated_log() {
    return upstream_kernel() ? Lines{"[LKP-INFO]:LKP-DEACTIVATE:Success to deactivate."} : Lines{};
}

// Upstream an enabled package cannot be removed: there it is switched off
// first (its lines are switched_off_first() and deactivated_log()).
inline void switch_off_if_upstream(const std::string &pkg) {
    if (upstream_kernel()) {
        EXPECT_EQ(navo_lkp_deactivate(pkg.c_str()), 0);
    }
}

// The init and op lines of installing these patches of a package.
inline Lines installed(const std::string &pkg, const Lines &patches) {
    Lines lines;
    for (const std::string &patch : patches) {
        lines.push_back("init " + patch + " 0");
        lines.push_back("op add," + std::to_string(patches.size()) + "," + pkg + "," + patch);
    }
    return lines;
}

class LoadTest : public lkptest::KernelTest {
protected:
    // A package of the given module files, directory "hotfix_01".
    static PackageSpec package(const Lines &module_files, const std::string &file_name = PKG) {
        PackageSpec spec;
        spec.file_name = file_name;
        for (const std::string &module_file : module_files) {
            UnitSpec unit;
            unit.module_file = module_file;
            spec.units.push_back(unit);
        }
        return spec;
    }

    // Builds the package in the scratch directory (or a subdirectory of it).
    std::string build(const PackageSpec &spec, const std::string &subdir = "") {
        std::string dir = scratch_dir();
        if (!subdir.empty()) {
            dir += "/" + subdir;
            EXPECT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
        }
        const std::string path = lkpsim::build_package(spec, dir);
        EXPECT_EQ(path, dir + "/" + spec.file_name);
        return path;
    }

    // The bytes of a gzip tar archive whose only entry is one regular file.
    std::string single_file_archive(const std::string &name) {
        const std::string file = scratch_dir() + "/" + name;
        const std::string archive = scratch_dir() + "/single.tar.gz";
        std::ofstream(file) << "not a directory\n";
        const pid_t child = fork();
        if (child == 0) {
            char *const environment[] = {nullptr};
            execle("/bin/tar", "/bin/tar", "-czf", archive.c_str(), "-C", scratch_dir().c_str(),
                   name.c_str(), static_cast<char *>(nullptr), environment);
            _exit(127);
        }
        int status = -1;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
        std::ifstream in(archive, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(file.c_str());
        std::remove(archive.c_str());
        return bytes;
    }

    // A loaded package put straight into the kernel: modules inserted and
    // registered in this order, each record with this number.
    static void arrange_loaded(const std::string &pkg, const Lines &patches, int num) {
        for (const std::string &patch : patches) {
            lkpsim::insert_patch(patch);
            lkpsim::register_patch(num, pkg, patch);
        }
    }

    // The kernel side's history and the log since the last look, exactly.
    static void expect_events(const Lines &history, const Lines &log) {
        EXPECT_EQ(lkpsim::history(), history);
        EXPECT_EQ(take_log(), log);
    }

    // No patch inserted or registered: only the manager module.
    static void expect_no_patches() {
        EXPECT_EQ(lkpsim::records(), Lines{});
        EXPECT_EQ(lkpsim::inserted_modules(), Lines{"tesvar"});
    }

    // Forgets what the arranging steps left in the history and the log.
    static void forget_events() {
        lkpsim::clear_history();
        take_log();
    }
};

}  // namespace loadtest

#endif
