// File access as the library does it, for tests of the kernel files.
#ifndef LKPTEST_SIM_FILE_IO_H
#define LKPTEST_SIM_FILE_IO_H

#include <string>
#include <vector>

namespace simtest {

// The whole file through a stdio stream; "<unreadable>" when it cannot be read.
std::string read_text(const std::string &path);
// One fopen("w"), one fwrite, one fclose: 0 when fclose succeeds, else the
// errno it (or fopen) failed with.
int write_text(const std::string &path, const std::string &text);
// 0 when stat succeeds, else its errno.
int stat_error(const std::string &path);
bool is_regular_file(const std::string &path);
bool is_directory(const std::string &path);
// The bytes of a file.
std::vector<unsigned char> read_bytes(const std::string &path);

}  // namespace simtest

#endif
