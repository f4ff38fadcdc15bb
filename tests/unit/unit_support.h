// Small helpers shared by the frame and system-helper tests: captured log
// lines, files and directories arranged in the scratch directory.
#ifndef TESVAR_TESTS_UNIT_UNIT_SUPPORT_H
#define TESVAR_TESTS_UNIT_UNIT_SUPPORT_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace unit {

using Lines = std::vector<std::string>;

// A heap string made by a helper of the library, released with free.
struct Free {
    void operator()(char *text) const { std::free(text); }
};
using Owned = std::unique_ptr<char, Free>;

// The log lines captured since the last call, whole (prefix, message and the
// format's newline). Every level goes out at LOG_INFO.
inline Lines logged() {
    Lines texts;
    for (const lkpsim::LogLine &line : lkpsim::take_log()) {
        EXPECT_EQ(line.priority, 6) << line.text;
        texts.push_back(line.text);
    }
    return texts;
}

inline std::string err_line(const std::string &message) {
    return "[LKP-ERR]:" + message + "\n";
}

inline void write_text(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    EXPECT_TRUE(out << text) << path;
}

inline std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether anything (a dangling link included) is at path.
inline bool exists(const std::string &path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

inline void make_dir(const std::string &path) {
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
}

// The names in dir other than "." and "..", sorted.
inline Lines entries(const std::string &dir) {
    Lines names;
    const std::unique_ptr<DIR, int (*)(DIR *)> stream(opendir(dir.c_str()), closedir);
    while (stream) {
        const dirent *entry = readdir(stream.get());
        if (entry == nullptr) {
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Creates nested directories below base and returns the innermost one, whose
// path has exactly length characters (at least base plus two).
inline std::string deep_dir(std::string path, size_t length) {
    make_dir(path);
    while (path.size() < length) {
        const size_t rest = length - path.size();
        // Take the rest in one component when it fits, else leave room for more.
        path += "/" + std::string(rest - 1 <= 200 ? rest - 1 : 150, 'd');
        make_dir(path);
    }
    EXPECT_EQ(path.size(), length);
    return path;
}

// Runs the scope in another working directory.
class WorkingDir {
public:
    explicit WorkingDir(const std::string &dir) {
        EXPECT_NE(getcwd(saved_, sizeof saved_), nullptr);
        EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
    }
    WorkingDir(const WorkingDir &) = delete;
    WorkingDir &operator=(const WorkingDir &) = delete;
    ~WorkingDir() { EXPECT_EQ(chdir(saved_), 0); }

private:
    char saved_[PATH_MAX] = {};
};

}  // namespace unit

#endif
