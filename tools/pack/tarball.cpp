// Archiving with "/bin/tar" and compressing with "/bin/gzip". The archive
// options (--sort, --owner, --mtime, --format) are GNU tar's: a device's
// BusyBox tar has none of them, so a failed archive step says when /bin/tar
// is not GNU tar instead of leaving the user with its exit status.
#include "tarball.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "process.h"
#include "sys/owned_fd.h"

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

// True when "/bin/tar --version" names GNU tar; what it prints is kept off
// the user's terminal.
bool tar_is_gnu() {
    const tesvar::Fd out(memfd_create("lkpctl-tar-version", MFD_CLOEXEC));
    if (!out.valid() || !run_program({TAR, "--version"}, out.get(), out.get()).ok()) {
        return false;
    }
    char head[64] = {};
    const ssize_t length = pread(out.get(), head, sizeof head - 1, 0);
    return length > 0 && std::string_view(head, static_cast<size_t>(length)).find("GNU tar") !=
                             std::string_view::npos;
}

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
        if (!tar_is_gnu()) {
            result.detail +=
                " (pack needs GNU tar as /bin/tar; a BusyBox tar cannot make "
                "reproducible archives: pack on a build machine)";
        }
        return result;
    }
    // -n: no file name or time stamp in the gzip header.
    return run_program({GZIP, "-n", "-9", "-c", "--", work_tar}, out_fd);
}

}  // namespace lkpctl
