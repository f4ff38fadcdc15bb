#!/usr/bin/env bash
# Runs every operation beside its floor (bench_floor) and writes
# docs/performance.md and docs/performance-time.svg from the results.
#   bench/performance.sh [repetitions]     default 3; needs root (the
#                                          simulated kernel side) and python3
set -euo pipefail
cd "$(dirname "$0")/.."
repetitions=${1:-3}

scripts/deps.sh
command -v python3 >/dev/null || {
  [ "$(id -u)" -eq 0 ] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3
}

build=build-perf
cmake -S . -B "$build" -DTESVAR_BUILD_BENCH=ON -DTESVAR_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_floor

"$build"/bench/bench_floor --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$build/floor.json" --benchmark_out_format=json
python3 bench/performance_report.py "$build/floor.json" docs/performance.md docs/performance-time.svg
echo "written: docs/performance.md docs/performance-time.svg"
