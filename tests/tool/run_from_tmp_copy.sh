#!/usr/bin/env bash
# Runs the lkpctl tests from a copy of the built programs under /tmp, laid
# out as in the build tree: the simulated kernel side mounts a private /tmp,
# which must not hide them. Builds nothing.
#   run_from_tmp_copy.sh BUILD_DIR TEST_EXE PROGRAM...
set -euo pipefail
build=$1
shift
copy=$(mktemp -d /tmp/tesvar-build-copy.XXXXXX)
trap 'rm -rf "$copy"' EXIT
for file in "$@"; do
  relative=${file#"$build"/}
  mkdir -p "$copy/$(dirname "$relative")"
  cp -p "$file" "$copy/$relative"
done
test_exe=$copy/${1#"$build"/}
cd "$copy"
"$test_exe" --gtest_brief=1
