// Which package last patched a kernel module, and the unsupported batch
// entries.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "kernel/line_buffer.h"
#include "kernel/record.h"
#include "sys/file_access.h"
#include "sys/owned.h"
#include "sys/text_buffer.h"
#include "tesvar.h"

namespace tesvar {

namespace {

// A name that formats into a path of its own: never "", ".", "..", or a name
// with "/" (each would match the patch's or the livepatch root directory).
bool is_module_name(const char *ko_name) {
    return ko_name[0] != '\0' && std::strcmp(ko_name, ".") != 0 &&
           std::strcmp(ko_name, "..") != 0 && std::strchr(ko_name, '/') == nullptr;
}

constexpr int32_t QUERY_INVALID = -EINVAL;
constexpr int32_t QUERY_NO_MEMORY = -ENOMEM;
constexpr int32_t QUERY_NOT_FOUND = -ENODEV;

// An open or a status that failed because the name is not there, as
// opposed to one that could not look (no descriptor left, no memory, no
// right): only the first kind answers "not covered".
bool is_absence(int error) {
    return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG;
}

// The livepatch root, opened once per query, against which each record's
// directory is looked up without resolving the root again.
class LivepatchRoot {
public:
    LivepatchRoot() noexcept
        : dir_(open(LIVEPATCH_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          error_(dir_.valid() ? 0 : errno) {}

    // 0 when the root could be opened or is not there; else the open's errno.
    int error() const noexcept { return is_absence(error_) ? 0 : error_; }

    // Whether opendir(path) would succeed, path being LIVEPATCH_DIR "/"
    // relative. A directory that anyone may read is taken from its status
    // alone, a missing one is not there; any other case is decided by
    // opening it as opendir does. An open that fails for another reason
    // than absence leaves its errno in *error: the query cannot tell.
    bool has_directory(const char *path, const char *relative, int *error) const noexcept {
        // "livepatch//x" names "livepatch/x": never an absolute relative path.
        while (*relative == '/') {
            ++relative;
        }
        if (dir_.valid()) {
            struct stat status {};
            if (fstatat(dir_.get(), relative, &status, 0) != 0) {
                if (is_absence(errno)) {
                    return false;
                }
            } else if (S_ISDIR(status.st_mode) && (status.st_mode & S_IROTH) != 0) {
                return true;
            }
        }
        const Fd opened(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
        if (!opened.valid() && !is_absence(errno)) {
            *error = errno;
        }
        return opened.valid();
    }

private:
    Fd dir_;
    int error_;
};

// Logs that path could not be opened and gives the negated errno.
int32_t cannot_open(const char *path, int error) {
    lkp_log(LKP_ERR, "fail: can't open %s\n", path);
    return -error;
}

// True when the record's patch has a livepatch directory for ko_name. -260
// in *rc when that directory's path does not fit; the negated errno when it
// could not be looked at.
bool patch_covers(const LivepatchRoot &root, const patch_record &record, const char *ko_name,
                  char *path, int *rc) {
    const int length = snprintf_s(path, PATH_BUFFER_SIZE, PATH_BUFFER_SIZE - 1, "%s/%s/%s/",
                                  LIVEPATCH_DIR, record.patch_name, ko_name);
    if (!is_whole_text(length, PATH_BUFFER_SIZE)) {
        lkp_log(LKP_ERR, "fail for snprintf_s\n");
        *rc = LKP_SNPRINTF_FAILED;
        return false;
    }
    int error = 0;
    const bool covers = root.has_directory(path, path + std::strlen(LIVEPATCH_DIR) + 1, &error);
    if (error != 0) {
        *rc = cannot_open(path, error);
    }
    return covers;
}

// Scans the whole control file; the last record whose patch covers ko_name
// leaves its package in best (63 characters and a NUL). Any failure ends
// the scan.
int search_for_last_one(FILE *control, const char *ko_name, char *best) {
    HeapText path = new_text_buffer();
    if (!path) {
        lkp_log(LKP_ERR, "fail: no enough mem for %s\n", "search_for_last_one");
        return QUERY_NO_MEMORY;
    }
    const LivepatchRoot root;
    if (root.error() != 0) {
        return cannot_open(LIVEPATCH_DIR, root.error());
    }
    LineBuffer line;
    patch_record record{};
    while (line.read(control) != -1) {
        if (parse_record(&record, line.data(), RECORD_CONTROL) != LKP_OK) {
            lkp_log(LKP_ERR, "fail: error when read proc\n");
            return LKP_KERNEL_UNKNOWN;
        }
        int rc = LKP_OK;
        if (!patch_covers(root, record, ko_name, path.get(), &rc)) {
            if (rc != LKP_OK) {
                return rc;
            }
            continue;
        }
        rc = strncpy_s(best, NAME_SIZE, record.pkg_name, NAME_SIZE - 1);
        if (rc != 0) {
            lkp_log(LKP_ERR, "fail for strncpy_s\n");
            return rc;
        }
    }
    if (best[0] == '\0') {
        lkp_log(LKP_INFO, "no found any pkg for ko %s\n", ko_name);
        return QUERY_NOT_FOUND;
    }
    return LKP_OK;
}

}  // namespace

}  // namespace tesvar

extern "C" TESVAR_API int32_t navo_lkp_last_patch_for_module(const char *ko_name, char *pkg_name,
                                                             uint32_t pkg_name_len) {
    using tesvar::LKP_ERR;
    using tesvar::lkp_log;
    char best[tesvar::NAME_SIZE] = {};
    if (ko_name == nullptr || pkg_name == nullptr || pkg_name_len < tesvar::NAME_SIZE ||
        !tesvar::is_module_name(ko_name)) {
        lkp_log(LKP_ERR,
                "fail: EINVAL, %s need ko_name != NULL && pkg_name != NULL && pkg_name_len >= %d\n",
                "navo_lkp_last_patch_for_module", tesvar::NAME_SIZE);
        return tesvar::QUERY_INVALID;
    }
    // Read directly: the query reports the open's own errno.
    tesvar::Stream control(std::fopen(tesvar::CONTROL_FILE, "re"));
    if (!control) {
        const int32_t rc = -errno;
        lkp_log(LKP_ERR, "fail: can't open %s\n", tesvar::CONTROL_FILE);
        return rc;
    }
    int32_t rc = tesvar::search_for_last_one(control.get(), ko_name, best);
    if (rc != tesvar::LKP_OK) {
        return rc;
    }
    rc = tesvar::strncpy_s(pkg_name, pkg_name_len, best, tesvar::NAME_SIZE - 1);
    if (rc != 0) {
        lkp_log(LKP_ERR, "fail for strncpy_s pkg_name\n");
    }
    return rc;
}

extern "C" TESVAR_API int32_t navo_lkp_apply_patches(void) {
    tesvar::lkp_log(tesvar::LKP_ERR, "[LKP-ERR] no support function: %s\n",
                    "navo_lkp_apply_patches");
    return 0;
}

extern "C" TESVAR_API int32_t navo_lkp_reverse_patches(void) {
    tesvar::lkp_log(tesvar::LKP_ERR, "[LKP-ERR] no support function: %s\n",
                    "navo_lkp_reverse_patches");
    return 0;
}
