// Extraction of package and unit archives with "/bin/tar".
#include "sys/archive.h"

#include "frame/bounded.h"
#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "sys/command.h"
#include "sys/file_access.h"
#include "sys/text_buffer.h"

namespace tesvar {

int decompress_tar_gz(const char *archive, const char *dir) {
    if (archive == nullptr || dir == nullptr) {
        return LKP_INVALID_ARGUMENT;
    }
    // A relative path starts with "./", so that tar never reads it as an
    // option or as "-" (standard input). A '/' before any ':' also keeps GNU
    // tar from taking "host:file" for a remote archive; no option of GNU
    // tar's own is needed for that, which busybox's tar would refuse.
    char archive_arg[PATH_BUFFER_SIZE] = {};
    const int written = snprintf_s(archive_arg, sizeof archive_arg, sizeof archive_arg - 1,
                                   archive[0] == '/' ? "%s" : "./%s", archive);
    if (!is_whole_text(written, PATH_BUFFER_SIZE)) {
        return LKP_INVALID_ARGUMENT;
    }
    char *const argv[] = {const_cast<char *>(TAR_PROGRAM),
                          const_cast<char *>("--no-same-owner"),
                          const_cast<char *>("-xzf"),
                          archive_arg,
                          const_cast<char *>("-C"),
                          const_cast<char *>(dir),
                          nullptr};
    return run_command(TAR_PROGRAM, argv, CommandLimits{MAX_EXTRACTED_FILE_SIZE}) == 0
               ? LKP_OK
               : LKP_INVALID_ARGUMENT;
}

}  // namespace tesvar
