#!/usr/bin/env bash
# Fails when an ELF file needs a shared library other than the allowed ones
# (by default the C library alone): what a device image must carry besides
# our own files. Reads the NEEDED entries of `readelf -d`, which works for
# every architecture's ELF files.
#   scripts/check-needed.sh [--allow SONAME]... FILE...
set -euo pipefail

allowed=(libc.so.6)
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --allow) extra+=("$2"); shift 2 ;;
    *) break ;;
  esac
done
[ "${#extra[@]}" -gt 0 ] && allowed=("${extra[@]}")
[ $# -gt 0 ] || { echo "usage: $0 [--allow SONAME]... FILE..." >&2; exit 2; }

status=0
for file in "$@"; do
  dynamic=$(readelf -d "$file") || { echo "check-needed: cannot read $file" >&2; exit 1; }
  needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' <<<"$dynamic")
  [ -n "$needed" ] || { echo "check-needed: $file needs no library at all (not a dynamic object?)" >&2; status=1; }
  while IFS= read -r soname; do
    [ -n "$soname" ] || continue
    ok=0
    for allow in "${allowed[@]}"; do
      [ "$soname" = "$allow" ] && ok=1
    done
    if [ "$ok" -eq 0 ]; then
      echo "check-needed: $file needs $soname (allowed: ${allowed[*]})" >&2
      status=1
    fi
  done <<<"$needed"
done
exit $status
