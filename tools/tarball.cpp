// Archiving with "/bin/tar" and compressing with "/bin/gzip".
#include "tarball.h"

#include <unistd.h>

#include <vector>

#include "process.h"

namespace lkpctl {
namespace {

constexpr const char *TAR = "/bin/tar";
constexpr const char *GZIP = "/bin/gzip";

// Removes the scratch tar on every path.
class ScratchFile {
public:
    explicit ScratchFile(const std::string &path) : path_(path) {}
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
    ~ScratchFile() { unlink(path_.c_str()); }

private:
    std::string path_;
};

}  // namespace

StepResult write_tar_gz(const std::string &parent, const std::string &entry,
                        const std::string &work_tar, int out_fd) {
    ScratchFile scratch(work_tar);
    // Sorted names, fixed owners and times: nothing of the build machine or the clock.
    const std::vector<std::string> tar = {
        TAR,          "--sort=name",  "--owner=0", "--group=0", "--numeric-owner",
        "--mtime=@0", "--format=gnu", "-C",        parent,      "-cf",
        work_tar,     "--",           entry};
    StepResult result = run_program(tar);
    if (!result.ok()) {
        return result;
    }
    // -n: no file name or time stamp in the gzip header.
    return run_program({GZIP, "-n", "-9", "-c", "--", work_tar}, out_fd);
}

}  // namespace lkpctl
