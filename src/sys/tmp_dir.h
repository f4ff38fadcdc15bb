// Private temporary directories made from "/tmp/lkp_XXXXXX" and removed with
// "/bin/rm -rf".
#ifndef TESVAR_SYS_TMP_DIR_H
#define TESVAR_SYS_TMP_DIR_H

#include "sys/owned.h"

namespace tesvar {

// A new directory (mode 0700); heap path owned by the caller, or NULL.
char *create_tmp_dir();

// Removes dir and everything under it; logs "Failed to rm <dir>." when rm
// cannot be run or does not exit 0.
void rm_tmp_dir(const char *dir);

// A directory made by create_tmp_dir, removed with rm_tmp_dir and its name
// freed when the owner goes away (or at remove()).
class TmpDir {
public:
    TmpDir() noexcept : path_(create_tmp_dir()) {}
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
    }

private:
    HeapText path_;
};

}  // namespace tesvar

#endif
