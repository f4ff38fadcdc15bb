// Shared helpers of the kernel interface tests: the captured log lines and
// the texts the library logs.
#ifndef TESVAR_TESTS_KERNEL_KERNEL_HELPERS_H
#define TESVAR_TESTS_KERNEL_KERNEL_HELPERS_H

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace kerneltest {

using Lines = std::vector<std::string>;

// The log lines since the last call, without their newline; every line of the
// library goes out at LOG_INFO, whatever its level.
inline Lines take_log() {
    Lines texts;
    for (const lkpsim::LogLine &line : lkpsim::take_log()) {
        EXPECT_EQ(line.priority, LOG_INFO) << line.text;
        std::string text = line.text;
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        texts.push_back(text);
    }
    return texts;
}

inline std::string err(const std::string &message) {
    return "[LKP-ERR]:" + message;
}

inline const std::string kNotExistent = err("open_file: The file is not existent.");

}  // namespace kerneltest

#endif
