#!/usr/bin/env bash
# scripts/check-includes.sh on the checkout (must pass) and on a copy with one
# include of each wrong kind (must fail and name exactly those).
#   check_includes_test.sh CHECK_SCRIPT SOURCE_ROOT
set -euo pipefail
check=$1
root=$2

"$check" "$root" >/dev/null || { echo "the tree itself has wrong-way includes" >&2; exit 1; }

copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$root/sim" "$root/tools" "$root/src" "$root/include" "$copy/"
sed -i '1a #include "fs_nodes.h"' "$copy/sim/kernel/names.cpp"
sed -i '1a #include "store.h"' "$copy/tools/frame/json.cpp"
sed -i '1a #include "sys/archive.h"' "$copy/sim/client/log_capture.cpp"
mkdir "$copy/sim/attic"
printf '// A file outside every room.\n' >"$copy/sim/attic/stray.h"

status=0
report=$("$check" "$copy") || status=$?
expected='sim/attic/stray.h: in no room (add its folder to scripts/check-includes.sh)
sim/client/log_capture.cpp: includes "sys/archive.h", which no room it may use holds
sim/kernel/names.cpp: includes "fs_nodes.h" from sim/fs, which is not below sim/kernel
tools/frame/json.cpp: includes "store.h" from tools/store, which is not below tools/frame'
if [[ $status -ne 1 || $report != "$expected" ]]; then
  printf 'status %s, report:\n%s\nexpected status 1 and:\n%s\n' "$status" "$report" "$expected" >&2
  exit 1
fi
