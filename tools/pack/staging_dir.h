// A private scratch directory (mkdtemp) removed with everything under it
// when its owner goes away.
#ifndef LKPCTL_STAGING_DIR_H
#define LKPCTL_STAGING_DIR_H

#include <string>

namespace lkpctl {

class StagingDir {
public:
    StagingDir();  // under $TMPDIR when it is an absolute path, else /tmp
    StagingDir(const StagingDir &) = delete;
    StagingDir &operator=(const StagingDir &) = delete;
    ~StagingDir();

    // 0 when the directory was made, else the errno of mkdtemp.
    int error() const { return error_; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
    int error_ = 0;
};

}  // namespace lkpctl

#endif
