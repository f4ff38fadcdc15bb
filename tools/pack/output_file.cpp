// Writing a file atomically: temporary name, then rename.
#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace lkpctl {
namespace {

constexpr mode_t FILE_MODE = 0644;

}  // namespace

OutputFile::OutputFile(std::string final_path) : final_path_(std::move(final_path)) {}

OutputFile::~OutputFile() {
    fd_.close();
    if (!committed_ && !temp_path_.empty()) {
        unlink(temp_path_.c_str());
    }
}

StepResult OutputFile::open() {
    // Beside the final path, so that the rename never crosses file systems.
    const size_t slash = final_path_.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string pattern =
        final_path_.substr(0, name_start) + "." + final_path_.substr(name_start) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = tesvar::Fd(mkostemp(buffer.data(), O_CLOEXEC));
    if (!fd_.valid()) {
        return errno_failure("cannot create a file beside " + final_path_, errno);
    }
    temp_path_ = buffer.data();
    // mkostemp makes the file 0600; a package is meant to be readable by all.
    if (fchmod(fd_.get(), FILE_MODE) != 0) {
        return errno_failure("cannot set the mode of " + temp_path_, errno);
    }
    return {};
}

StepResult OutputFile::commit() {
    const int sync_error = fsync(fd_.get()) == 0 ? 0 : errno;
    const int close_error = fd_.close() == 0 ? 0 : errno;
    if (sync_error != 0 || close_error != 0) {
        return errno_failure("cannot write " + temp_path_,
                             sync_error != 0 ? sync_error : close_error);
    }
    if (std::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
        return errno_failure("cannot rename " + temp_path_ + " to " + final_path_, errno);
    }
    committed_ = true;
    return {};
}

}  // namespace lkpctl
