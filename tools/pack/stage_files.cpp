// Directories and files of the package tree, with fixed modes.
#include "stage_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace lkpctl {
namespace {

constexpr mode_t DIR_MODE = 0755;
constexpr mode_t FILE_MODE = 0644;

}  // namespace

StepResult make_dir(const std::string &path) {
    if (mkdir(path.c_str(), DIR_MODE) != 0 || chmod(path.c_str(), DIR_MODE) != 0) {
        return errno_failure("cannot make directory " + path, errno);
    }
    return {};
}

StepResult copy_file(const std::string &from, const std::string &to) {
    std::error_code error;
    if (!std::filesystem::copy_file(from, to, error)) {
        return errno_failure("cannot copy " + from + " to " + to, error.value());
    }
    if (chmod(to.c_str(), FILE_MODE) != 0) {
        return errno_failure("cannot set the mode of " + to, errno);
    }
    return {};
}

StepResult create_file(const std::string &path, tesvar::Fd *fd) {
    *fd = tesvar::Fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, FILE_MODE));
    if (!fd->valid() || fchmod(fd->get(), FILE_MODE) != 0) {
        const int error = errno;
        fd->close();
        return errno_failure("cannot create " + path, error);
    }
    return {};
}

StepResult write_text_file(const std::string &path, const std::string &text) {
    tesvar::Fd fd;
    StepResult result = create_file(path, &fd);
    size_t written = 0;
    while (result.ok() && written < text.size()) {
        const ssize_t count = write(fd.get(), text.data() + written, text.size() - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
        } else if (count == 0 || errno != EINTR) {
            result = errno_failure("cannot write " + path, count < 0 ? errno : EIO);
        }
    }
    if (result.ok() && fd.close() != 0) {
        result = errno_failure("cannot write " + path, errno);
    }
    return result;
}

}  // namespace lkpctl
