// Extraction of gzip-compressed tar archives with "/bin/tar".
#ifndef TESVAR_SYS_ARCHIVE_H
#define TESVAR_SYS_ARCHIVE_H

#include <sys/types.h>

namespace tesvar {

// No single extracted file may be larger: a module or unit archive beyond it
// fails its extraction before more than this is written to /tmp.
#ifndef TESVAR_MAX_EXTRACTED_FILE_SIZE
#define TESVAR_MAX_EXTRACTED_FILE_SIZE (64L * 1024 * 1024)
#endif
constexpr off_t MAX_EXTRACTED_FILE_SIZE = TESVAR_MAX_EXTRACTED_FILE_SIZE;

// Runs "/bin/tar --no-same-owner -xzf archive -C dir", a
// relative archive path given as "./path", each extracted file limited to
// MAX_EXTRACTED_FILE_SIZE. 0 only when tar exits with status 0; -257 when it
// fails or cannot be run.
int decompress_tar_gz(const char *archive, const char *dir);

}  // namespace tesvar

#endif
