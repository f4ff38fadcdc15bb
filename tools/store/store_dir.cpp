// Reaching the store's files through its directory descriptor.
#include "store_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "frame/result_codes.h"
#include "outcome.h"
#include "store_names.h"

namespace lkpctl {
namespace {

constexpr mode_t DIR_MODE = 0755;
constexpr mode_t FILE_MODE = 0644;
constexpr const char *STORE_BASE = "var/lib/tesvar";
constexpr const char *STORE_STEPS[] = {"var", "lib", "tesvar"};
// More than any package or order file can sensibly be.
constexpr off_t MAX_FILE_BYTES = off_t{1} << 30;
constexpr int DIR_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int READ_FLAGS = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Counts the store's write steps; ends the process at the step
// LKPCTL_FAULT_AT names, leaving on disk whatever a power cut would.
bool fault_here() {
    static int step = 0;
    static const char *at = std::getenv("LKPCTL_FAULT_AT");  // NOLINT(concurrency-mt-unsafe)
    ++step;
    return at != nullptr && std::strtol(at, nullptr, 10) == step;
}

void cut_off() {
    _exit(EXIT_FAILED + 100);
}

StepResult not_regular(const std::string &path) {
    return step_failed(tesvar::LKP_FILE_MISSING,
                       path + " is not a regular file; the store leaves it alone");
}

StepResult write_all(int fd, const std::string &bytes, const std::string &path) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return errno_failure("cannot write " + path, wrote < 0 ? errno : ENOSPC);
        }
        done += static_cast<size_t>(wrote);
    }
    return {};
}

// mkdir -p of the root the operator named (links on the way are the operator's).
StepResult make_root(const std::string &root) {
    for (size_t at = root.find('/', 1); at != std::string::npos; at = root.find('/', at + 1)) {
        if (mkdir(root.substr(0, at).c_str(), DIR_MODE) != 0 && errno != EEXIST) {
            return errno_failure("cannot make " + root.substr(0, at), errno);
        }
    }
    if (mkdir(root.c_str(), DIR_MODE) != 0 && errno != EEXIST) {
        return errno_failure("cannot make " + root, errno);
    }
    return {};
}

}  // namespace

StepResult StoreDir::open_step(const std::string &name, bool create, std::string *path) {
    *path += "/" + name;
    if (create && mkdirat(dir_.get(), name.c_str(), DIR_MODE) != 0 && errno != EEXIST) {
        return errno_failure("cannot make " + *path, errno);
    }
    tesvar::Fd next(openat(dir_.get(), name.c_str(), DIR_FLAGS));
    if (!next.valid()) {
        const int error = errno;
        dir_.close();
        if (error == ENOENT && !create) {
            return {};
        }
        if (error == ELOOP || error == ENOTDIR) {
            return step_failed(-error, *path +
                                           " is a symbolic link or not a directory; the store "
                                           "refuses it");
        }
        return errno_failure("cannot open " + *path, error);
    }
    dir_ = std::move(next);
    return {};
}

StepResult StoreDir::open(const std::string &root, const std::string &release, bool create) {
    std::string path =
        root.size() > 1 && root.back() == '/' ? root.substr(0, root.size() - 1) : root;
    if (path == "/") {
        path.clear();
    }
    path_ = path + "/" + STORE_BASE + "/" + release;
    if (create) {
        StepResult made = make_root(root);
        if (!made.ok()) {
            return made;
        }
    }
    dir_ = tesvar::Fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir_.valid()) {
        return errno == ENOENT && !create ? StepResult{}
                                          : errno_failure("cannot open " + root, errno);
    }
    for (const char *step : STORE_STEPS) {
        StepResult result = open_step(step, create, &path);
        if (!result.ok() || !dir_.valid()) {
            return result;
        }
    }
    return open_step(release, create, &path);
}

StepResult StoreDir::read(const std::string &name, std::string *bytes, bool *missing) const {
    const std::string path = path_ + "/" + name;
    *missing = false;
    bytes->clear();
    if (!exists()) {
        *missing = true;
        return {};
    }
    const tesvar::Fd fd(openat(dir_.get(), name.c_str(), READ_FLAGS));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            *missing = true;
            return {};
        }
        return errno == ELOOP ? not_regular(path) : errno_failure("cannot open " + path, errno);
    }
    struct stat status {};
    if (fstat(fd.get(), &status) != 0) {
        return errno_failure("cannot read " + path, errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return not_regular(path);
    }
    if (status.st_size > MAX_FILE_BYTES) {
        return step_failed(-EFBIG, path + " is larger than 1 GiB");
    }
    bytes->resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = ::read(fd.get(), &(*bytes)[done], bytes->size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return errno_failure("cannot read " + path, errno);
        }
        if (got == 0) {
            break;  // shrunk meanwhile
        }
        done += static_cast<size_t>(got);
    }
    bytes->resize(done);
    return {};
}

StepResult StoreDir::check_regular(const std::string &name, bool *missing) const {
    *missing = false;
    struct stat status {};
    if (!exists() || fstatat(dir_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (!exists() || errno == ENOENT) {
            *missing = true;
            return {};
        }
        return errno_failure("cannot look at " + path_ + "/" + name, errno);
    }
    return S_ISREG(status.st_mode) ? StepResult{} : not_regular(path_ + "/" + name);
}

StepResult StoreDir::write_atomically(const std::string &name, const std::string &bytes) const {
    const std::string tmp_name = temporary_name(name);
    const std::string temporary = path_ + "/" + tmp_name;
    bool missing = false;
    StepResult step = check_regular(name, &missing);
    if (!step.ok()) {
        return step;
    }
    if (fault_here()) {
        cut_off();
    }
    // A regular temporary is what an interrupted write left: the store's own.
    step = check_regular(tmp_name, &missing);
    if (step.ok() && !missing) {
        step = remove(tmp_name);
    }
    if (!step.ok()) {
        return step;
    }
    const tesvar::Fd fd(openat(dir_.get(), tmp_name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                               FILE_MODE));
    if (!fd.valid()) {
        return errno_failure("cannot create " + temporary, errno);
    }
    if (fault_here()) {
        (void)write_all(fd.get(), bytes.substr(0, bytes.size() / 2), temporary);
        cut_off();
    }
    step = write_all(fd.get(), bytes, temporary);
    if (step.ok() && fault_here()) {
        cut_off();
    }
    if (step.ok() && fsync(fd.get()) != 0) {
        step = errno_failure("cannot sync " + temporary, errno);
    }
    if (step.ok() && fault_here()) {
        cut_off();
    }
    if (step.ok() && renameat(dir_.get(), tmp_name.c_str(), dir_.get(), name.c_str()) != 0) {
        step = errno_failure("cannot rename " + temporary, errno);
    }
    if (!step.ok()) {
        (void)unlinkat(dir_.get(), tmp_name.c_str(), 0);
        return step;
    }
    if (fault_here()) {
        cut_off();
    }
    return sync();
}

StepResult StoreDir::remove(const std::string &name) const {
    bool missing = false;
    StepResult step = check_regular(name, &missing);
    if (!step.ok() || missing) {
        return step;
    }
    if (unlinkat(dir_.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
        return errno_failure("cannot remove " + path_ + "/" + name, errno);
    }
    return {};
}

StepResult StoreDir::sync() const {
    if (fsync(dir_.get()) != 0) {
        return errno_failure("cannot sync " + path_, errno);
    }
    return {};
}

std::vector<std::string> StoreDir::regular_files() const {
    std::vector<std::string> names;
    const int fd = exists() ? openat(dir_.get(), ".", DIR_FLAGS) : -1;
    DIR *stream = fd >= 0 ? fdopendir(fd) : nullptr;
    if (stream == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return names;
    }
    for (const dirent *entry = readdir(stream); entry != nullptr; entry = readdir(stream)) {
        struct stat status {};
        if (fstatat(dir_.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(stream);
    return names;
}

}  // namespace lkpctl
