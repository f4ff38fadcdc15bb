// Helpers of the frame and system-helper tests: heap results, files and
// directories arranged in the scratch directory.
#ifndef TESVAR_TESTS_UNIT_UNIT_SUPPORT_H
#define TESVAR_TESTS_UNIT_UNIT_SUPPORT_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace unit {

using Lines = std::vector<std::string>;

// The text of a helper's heap result, freed here, or "(null)".
inline std::string take_text(char *result) {
    const std::unique_ptr<char, void (*)(void *)> owned(result, std::free);
    return owned ? owned.get() : "(null)";
}

inline void write_text(const std::string &path, const std::string &text) {
    EXPECT_TRUE(std::ofstream(path, std::ios::binary) << text) << path;
}

inline std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void make_dir(const std::string &path) {
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
}

// Nested directories from path down to one whose path has exactly length characters.
inline std::string deep_dir(std::string path, size_t length) {
    make_dir(path);
    while (path.size() < length) {
        const size_t rest = length - path.size() - 1;
        path += "/" + std::string(rest <= 200 ? rest : 150, 'd');
        make_dir(path);
    }
    EXPECT_EQ(path.size(), length);
    return path;
}

}  // namespace unit

#endif
