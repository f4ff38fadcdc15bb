// The layout and "content" manifest check of an extracted patch package.
#ifndef TESVAR_OPS_PACKAGE_CHECK_H
#define TESVAR_OPS_PACKAGE_CHECK_H

#include <cstdint>
#include <cstdio>

#include "kernel/patch_list.h"

namespace tesvar {

constexpr const char *MANIFEST_NAME = "content";
constexpr const char *UNIT_SUFFIX = ".tar.gz";

// Checks the package directory (the single entry of extract_dir) and fills
// units with the unit archive names in manifest order. 0 with *unit_count
// set, or -257 (units may then hold nodes; the caller empties it).
int check_pkg_available(const char *extract_dir, list_head *units, int32_t *unit_count);

// Reads a whole manifest: its head (see below), then exactly `found` unit
// lines naming regular files in pkg_dir, then its end. Lines longer than
// 1,023 bytes fail without being read further. 0, or -257 (units may then
// hold nodes).
int read_manifest(FILE *manifest, const char *pkg_dir, int32_t found, list_head *units);

// Checks the manifest's four head lines and that its unit count equals
// found; leaves the stream at the first unit line. 0, or -1 on failure.
int check_content_head(FILE *manifest, int32_t found);

}  // namespace tesvar

#endif
