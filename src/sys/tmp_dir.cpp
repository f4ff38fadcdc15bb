// Private temporary directories for extracted packages and units, and the
// removal of those a killed process left behind.
#include "sys/tmp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/bounded.h"
#include "frame/log.h"
#include "kernel/kernel_paths.h"
#include "sys/command.h"

namespace tesvar {
namespace {

constexpr size_t TEMPLATE_BUFFER_SIZE = 16;
static_assert(std::char_traits<char>::length(TMP_DIR_TEMPLATE) + 1 == TEMPLATE_BUFFER_SIZE,
              "the template and its NUL fill the buffer");
constexpr const char *TMP_PARENT = "/tmp";
constexpr const char *TMP_PREFIX = "lkp_";
constexpr size_t TMP_PREFIX_LENGTH = 4;
constexpr size_t TMP_SUFFIX_LENGTH = 6;  // the XXXXXX mkdtemp fills in
// A sweeper may take a new directory between mkdtemp and its lock; the
// maker then starts again with a fresh name, a few times at most.
constexpr int CREATE_ATTEMPTS = 8;

constexpr int DIR_OPEN_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// The descriptor still names the directory at path (a sweeper has not
// removed it between the open and the lock).
bool still_at(int fd, const char *path) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// One try: a new directory, opened and locked. 0, EAGAIN to try again, or
// another errno (nothing left behind).
int try_create(char *name, size_t size, Fd *owner) {
    if (strncpy_s(name, size, TMP_DIR_TEMPLATE, size - 1) != 0) {
        return EINVAL;
    }
    if (mkdtemp(name) == nullptr) {
        return errno;
    }
    Fd fd(open(name, DIR_OPEN_FLAGS));
    if (!fd.valid()) {
        const int error = errno;
        (void)rmdir(name);
        return error == ENOENT ? EAGAIN : error;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        // Held by someone looking at it; it is still empty: give it up.
        (void)rmdir(name);
        return EAGAIN;
    }
    if (!still_at(fd.get(), name)) {
        return EAGAIN;
    }
    owner->reset(fd.release());
    return 0;
}

// "lkp_" and six characters of mkdtemp's alphabet.
bool is_tmp_dir_name(const char *name) {
    if (std::strncmp(name, TMP_PREFIX, TMP_PREFIX_LENGTH) != 0 ||
        std::strlen(name) != TMP_PREFIX_LENGTH + TMP_SUFFIX_LENGTH) {
        return false;
    }
    for (const char *c = name + TMP_PREFIX_LENGTH; *c != '\0'; ++c) {
        const bool alnum =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

// The entry is a directory (not a link) of this user whose lock is free; on
// success *lock holds the lock (exclusive when taking, else shared).
bool is_stale(int parent, const char *name, bool take, Fd *lock) {
    struct stat status {};
    if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != geteuid()) {
        return false;
    }
    Fd fd(openat(parent, name, DIR_OPEN_FLAGS));
    if (!fd.valid() || flock(fd.get(), (take ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        return false;
    }
    lock->reset(fd.release());
    return true;
}

}  // namespace

char *create_tmp_dir(Fd *owner) {
    owner->close();
    // mkdtemp rewrites its argument, so each call works on its own copy.
    char name[TEMPLATE_BUFFER_SIZE];
    for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
        const int error = try_create(name, sizeof name, owner);
        if (error == 0) {
            char *path = strdup(name);
            if (path == nullptr) {
                rm_tmp_dir(name);
                owner->close();
            }
            return path;
        }
        if (error != EAGAIN) {
            return nullptr;
        }
    }
    return nullptr;
}

void rm_tmp_dir(const char *dir) {
    // Whether rm could not run or ran and failed, the directory may remain:
    // one line says so, and the operation's own result stands.
    if (cmd_exec(RM_PROGRAM, "-rf", dir, nullptr, nullptr) != 0) {
        lkp_log(LKP_ERR, "Failed to rm %s.", dir);
    }
}

int visit_stale_tmp_dirs(bool remove, StaleTmpDirVisitor visit, void *context) {
    const Fd parent(open(TMP_PARENT, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DirStream entries(parent.valid() ? opendir(TMP_PARENT) : nullptr);
    if (!entries) {
        return 0;
    }
    int visited = 0;
    char path[TEMPLATE_BUFFER_SIZE];
    for (const dirent *entry = readdir(entries.get()); entry != nullptr;
         entry = readdir(entries.get())) {
        Fd lock;
        if (!is_tmp_dir_name(entry->d_name) ||
            !is_stale(parent.get(), entry->d_name, remove, &lock)) {
            continue;
        }
        const int length =
            snprintf_s(path, sizeof path, sizeof path - 1, "%s/%s", TMP_PARENT, entry->d_name);
        if (length < 0) {
            continue;
        }
        ++visited;
        if (visit != nullptr) {
            visit(path, context);
        }
        if (remove) {
            rm_tmp_dir(path);
            lkp_log(LKP_INFO, "Removed the stale directory %s.", path);
        }
    }
    return visited;
}

}  // namespace tesvar
