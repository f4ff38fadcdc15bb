// Helpers of the simulator's own tests: file access the way the library does
// it, and helper programs (tar) run inside the namespace.
#ifndef LKPTEST_SIM_UTIL_H
#define LKPTEST_SIM_UTIL_H

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "lkpsim/lkpsim.h"

namespace simtest {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

// The whole file; "<unreadable>" when it cannot be opened.
inline std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<unreadable>";
}

// One fopen("w"), one fwrite, one fclose: 0 when fclose succeeds, else the
// errno it (or fopen) failed with; -1 when the write itself failed.
inline int write_text(const std::string &path, const std::string &text) {
    FILE *stream = std::fopen(path.c_str(), "w");
    if (stream == nullptr) {
        return errno;
    }
    const bool written = std::fwrite(text.data(), text.size(), 1, stream) == 1;
    errno = 0;
    const int closed = std::fclose(stream);
    return !written ? -1 : closed == 0 ? 0 : errno;
}

// 0 when stat succeeds, else its errno.
inline int stat_error(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? 0 : errno;
}

// A symbolic link's text, or "" when it cannot be read.
inline std::string link_text(const std::string &path) {
    char text[256];
    const ssize_t length = readlink(path.c_str(), text, sizeof text);
    return length < 0 ? "" : std::string(text, static_cast<std::size_t>(length));
}

// The parent of a process, from its stat line ("pid (comm) state ppid ..."), or 1.
inline pid_t parent_of(pid_t pid) {
    const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    std::istringstream fields(end == std::string::npos ? "" : stat.substr(end + 1));
    std::string state;
    pid_t parent = 1;
    return fields >> state >> parent ? parent : 1;
}

inline Bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a program in the namespace; its exit status, its standard output as
// lines in *out.
inline int run(std::vector<std::string> args, Lines *out) {
    std::vector<char *> argv;
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::string text;
    std::string errors;
    const int status = lkpsim::run_program(argv.data(), &text, &errors);
    std::istringstream in(text);
    out->clear();
    for (std::string line; std::getline(in, line);) {
        out->push_back(line);
    }
    return status;
}

}  // namespace simtest

#endif
