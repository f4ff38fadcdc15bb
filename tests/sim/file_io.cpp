// File access helpers of the simulator tests.
#include "file_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

namespace simtest {

namespace {

using Stream = std::unique_ptr<FILE, int (*)(FILE *)>;

}  // namespace

std::string read_text(const std::string &path) {
    Stream stream(std::fopen(path.c_str(), "r"), std::fclose);
    if (!stream) {
        return "<unreadable>";
    }
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), stream.get())) > 0;) {
        text.append(buffer, n);
    }
    return text;
}

int write_text(const std::string &path, const std::string &text) {
    FILE *stream = std::fopen(path.c_str(), "w");
    if (stream == nullptr) {
        return errno;
    }
    const bool written = std::fwrite(text.data(), text.size(), 1, stream) == 1;
    errno = 0;
    const int closed = std::fclose(stream);
    if (!written) {
        return -1;
    }
    return closed == 0 ? 0 : errno;
}

int stat_error(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? 0 : errno;
}

bool is_regular_file(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool is_directory(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::vector<unsigned char> read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace simtest
