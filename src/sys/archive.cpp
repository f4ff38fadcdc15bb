// Extraction of package and unit archives with "/bin/tar".
#include "sys/archive.h"

#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "sys/command.h"

namespace tesvar {

int decompress_tar_gz(const char *archive, const char *dir) {
    // tar's exit status is not read: callers inspect the directory instead.
    return cmd_exec(TAR_PROGRAM, "-xzf", archive, "-C", dir) == 0 ? LKP_OK : LKP_INVALID_ARGUMENT;
}

}  // namespace tesvar
