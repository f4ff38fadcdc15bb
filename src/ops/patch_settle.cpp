// Disabling a live patch and waiting for its transition to end before its
// module is removed. Only the livepatch tree and the module's reference
// count are read; nothing here is logged unless a write is refused.
#include "ops/patch_settle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/control_file.h"
#include "kernel/kernel_paths.h"
#include "ops/loaded_package.h"
#include "sys/file_access.h"
#include "sys/monotonic_clock.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"
#include "tesvar.h"

namespace tesvar {

namespace {

// In milliseconds. A disabling transition takes about a second on a loaded
// two-core device.
constexpr int64_t SETTLE_LIMIT_MS = 5000;
// The module reference is dropped just after the directory goes.
constexpr int64_t REMOVAL_RETRY_LIMIT_MS = 2000;
constexpr int64_t FIRST_PAUSE_MS = 1;
constexpr int64_t LONGEST_PAUSE_MS = 100;

constexpr const char *MODULE_SYSFS_DIR = "/sys/module";

// dir/name/leaf; false when it does not fit.
bool build_path(char (&path)[PATH_BUFFER_SIZE], const char *dir, const char *name,
                const char *leaf) {
    return is_whole_text(
        snprintf_s(path, sizeof(path), sizeof(path) - 1, "%s/%s/%s", dir, name, leaf),
        PATH_BUFFER_SIZE);
}

// The first character of a small kernel file, '\0' when it cannot be read.
char first_char(const char *dir, const char *name, const char *leaf) {
    char path[PATH_BUFFER_SIZE];
    if (!build_path(path, dir, name, leaf) || is_file_existent(path) != 1) {
        return '\0';
    }
    Fd file(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    char first = '\0';
    if (!file.valid() || read(file.get(), &first, 1) != 1) {
        return '\0';
    }
    return first;
}

bool is_directory(const char *dir, const char *name) {
    char path[PATH_BUFFER_SIZE];
    struct stat status {};
    // "dir/name/": only a directory is found under a trailing slash.
    return build_path(path, dir, name, "") && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool has_settled(const char *patch_name) {
    if (!is_directory(LIVEPATCH_DIR, patch_name)) {
        // Freed: settled once the patch has let go of its own module
        // (no reference count to read counts as let go).
        const char held = first_char(MODULE_SYSFS_DIR, patch_name, "refcnt");
        return held == '\0' || held == '0';
    }
    // A kernel that keeps disabled patches: settled when no transition runs.
    return first_char(LIVEPATCH_DIR, patch_name, "enabled") == '0' &&
           first_char(LIVEPATCH_DIR, patch_name, "transition") != '1';
}

// Polls `done` with pauses growing from 1 ms to 100 ms until it answers true
// or `limit_ms` has passed; its last answer.
template <typename Done>
bool poll_until(int64_t limit_ms, Done done) {
    const int64_t deadline = monotonic_ms() + limit_ms;
    int64_t pause = FIRST_PAUSE_MS;
    while (!done()) {
        if (monotonic_ms() >= deadline) {
            return false;
        }
        sleep_ms(pause);
        pause = std::min(pause * 2, LONGEST_PAUSE_MS);
    }
    return true;
}

}  // namespace

bool is_patch_enabled(const char *patch_name) {
    return first_char(LIVEPATCH_DIR, patch_name, "enabled") == '1';
}

bool wait_patch_settled(const char *patch_name) {
    return poll_until(SETTLE_LIMIT_MS, [patch_name] { return has_settled(patch_name); });
}

void wait_package_settled(const char *pkg_name) {
    PatchList patches;
    int32_t count = 0;
    if (list_package_patches(pkg_name, patches, &count) != LKP_OK) {
        return;
    }
    list_head *head = patches.head();
    for (list_head *pos = head->prev; pos != head; pos = pos->prev) {
        wait_patch_settled(node_of(pos)->patch_name);
    }
}

bool disable_if_enabled(const char *patch_name) {
    if (!is_patch_enabled(patch_name)) {
        return false;
    }
    const int rc = fs_op(FS_OP_DISABLE, 0, nullptr, patch_name);
    if (rc != LKP_OK) {
        lkp_log(LKP_ERR, "Failed to disable %s, ret %d.", patch_name, rc);
        return false;
    }
    wait_patch_settled(patch_name);
    return true;
}

int32_t remove_disabled_module(const char *patch_name) {
    int32_t removed = 0;
    poll_until(REMOVAL_RETRY_LIMIT_MS, [patch_name, &removed] {
        removed = navo_lkp_rmmod(patch_name);
        return removed != -EAGAIN && removed != -EBUSY;
    });
    return removed;
}

}  // namespace tesvar
