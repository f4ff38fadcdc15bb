#!/usr/bin/env bash
# Instruction counts of the library calls that each benchmark makes, from one
# iteration of it under callgrind: repeatable where wall-clock timings on a
# shared machine are not. Counts are the calling thread's instructions only
# (the simulated kernel's file server and the waiting in system calls are
# not in them).
#
#   bench/callgrind_counts.sh [build-dir] [benchmark-regex]
#
# build-dir defaults to build-bench; the callgrind files are kept in
# <build-dir>/callgrind (not under /tmp, which the simulated kernel side
# replaces with a private one).
set -euo pipefail

source_dir="$(cd "$(dirname "$0")" && pwd)"
build_dir="$(cd "${1:-build-bench}" && pwd)"
filter="${2:-.}"
out_dir="$build_dir/callgrind"
mkdir -p "$out_dir"

printf '%-40s %-36s %6s %12s\n' benchmark function calls Ir/call
for bench in bench_internal bench_ops; do
  exe="$build_dir/bench/$bench"
  [ -x "$exe" ] || { echo "missing $exe: build it first" >&2; exit 1; }
  "$exe" --benchmark_list_tests --benchmark_filter="$filter" 2>/dev/null | while read -r name; do
    out="$out_dir/${name//\//_}.out"
    # Bound at start, so that no call pays for resolving its symbols.
    LD_BIND_NOW=1 valgrind --tool=callgrind --vgdb=no --callgrind-out-file="$out" \
      "$exe" --benchmark_filter="^${name}\$" --benchmark_min_time=0 </dev/null >"$out.log" 2>&1 ||
      { echo "$name: failed, see $out.log" >&2; continue; }
    # "=>" lines of the benchmark sources: inclusive cost and call count of
    # every call into the library, summed per function.
    (cd "$source_dir/.." && callgrind_annotate --auto=no --inclusive=yes --show-percs=no "$out" bench/*.cpp) |
      awk -v name="$name" '
        /=> .*(navo_lkp_|tesvar::)/ {
          ir = $1; gsub(",", "", ir)
          calls = $NF; gsub(/[(),x]/, "", calls)
          fn = $0; sub(/^.*=> [^:]*:/, "", fn); sub(/\(.*$/, "", fn); sub(/ *$/, "", fn)
          if (!(fn in total)) order[++n] = fn
          total[fn] += ir; count[fn] += calls
        }
        END {
          for (i = 1; i <= n; i++) {
            fn = order[i]
            printf "%-40s %-36s %6d %12d\n", name, fn, count[fn], total[fn] / count[fn]
          }
        }'
  done
done
