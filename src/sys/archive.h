// Extraction of gzip-compressed tar archives with "/bin/tar".
#ifndef TESVAR_SYS_ARCHIVE_H
#define TESVAR_SYS_ARCHIVE_H

namespace tesvar {

// Runs "/bin/tar -xzf archive -C dir". 0 once tar has run, whatever its
// outcome; -257 when it cannot be run.
int decompress_tar_gz(const char *archive, const char *dir);

}  // namespace tesvar

#endif
