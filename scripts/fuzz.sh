#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# bounded time from its seed corpus in fuzz/corpus/ (left unchanged; new
# inputs go to a temporary directory). A crash fails the run and leaves its
# input as build-fuzz/crash-* : make it a test.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DTESVAR_BUILD_FUZZERS=ON -DTESVAR_BUILD_TESTS=OFF \
  -DTESVAR_BUILD_TOOLS=OFF -DTESVAR_BUILD_SIM=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target elf_modinfo_fuzzer manifest_fuzzer

status=0
for target in elf_modinfo manifest; do
  scratch=$(mktemp -d)
  echo "== fuzz $target for ${seconds} s"
  if ! "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$build/" "$scratch" "fuzz/corpus/$target" \
      >"$build/$target.log" 2>&1; then
    status=1
    tail -n 40 "$build/$target.log"
  fi
  grep -E '^stat::number_of_executed_units' "$build/$target.log" | sed "s/^/$target: /" || true
  rm -rf "$scratch"
done
exit $status
