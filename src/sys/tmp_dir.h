// Private temporary directories made from "/tmp/lkp_XXXXXX" and removed with
// "/bin/rm -rf". Each is locked (flock on the directory itself) by the
// process that made it for as long as it is in use: the kernel drops the
// lock when that process dies, however it dies, so a directory whose lock is
// free is a crash's leftover that anyone may take and remove.
#ifndef TESVAR_SYS_TMP_DIR_H
#define TESVAR_SYS_TMP_DIR_H

#include "sys/owned.h"

namespace tesvar {

// A new directory (mode 0700) whose lock is held through *owner; heap path
// owned by the caller, or NULL (then *owner is closed).
char *create_tmp_dir(Fd *owner);

// Removes dir and everything under it; logs "Failed to rm <dir>." when rm
// cannot be run or does not exit 0.
void rm_tmp_dir(const char *dir);

// Called with the path of each leftover directory.
using StaleTmpDirVisitor = void (*)(const char *path, void *context);

// Visits every /tmp/lkp_XXXXXX directory of this user whose lock is free
// (its creator is gone). With remove, each is taken (locked exclusively),
// removed while locked and logged as "Removed the stale directory <dir>.";
// without, the lock is only tried (shared) and let go. A directory in use is
// never visited. Returns how many were visited.
int visit_stale_tmp_dirs(bool remove, StaleTmpDirVisitor visit, void *context);

// A directory made by create_tmp_dir, removed with rm_tmp_dir (while still
// locked), its lock let go and its name freed when the owner goes away (or
// at remove()).
class TmpDir {
public:
    TmpDir() noexcept : path_(create_tmp_dir(&owner_)) {}
    TmpDir(const TmpDir &) = delete;
    TmpDir &operator=(const TmpDir &) = delete;
    ~TmpDir() { remove(); }

    const char *path() const noexcept { return path_.get(); }
    explicit operator bool() const noexcept { return path_ != nullptr; }
    void remove() noexcept {
        if (path_) {
            rm_tmp_dir(path_.get());
            path_.reset();
        }
        owner_.close();
    }

private:
    Fd owner_;
    HeapText path_;
};

}  // namespace tesvar

#endif
