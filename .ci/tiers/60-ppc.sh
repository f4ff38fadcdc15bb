#!/usr/bin/env bash
# The whole suite cross-built for 32-bit PowerPC and run under qemu-ppc-static,
# each test inside the native host part of the simulated kernel side
# (cross/README.md). GoogleTest for PowerPC is built once into a cache
# directory and reused.
set -euo pipefail

scripts/deps.sh
scripts/apt-need.sh g++-powerpc-linux-gnu libc6-dev-powerpc-cross qemu-user-static googletest

# The native host part: the launcher and the native lkpsim the tests meet.
cmake -S . -B build-ppc-host -DTESVAR_BUILD_TESTS=OFF -DTESVAR_BUILD_TOOLS=OFF >/dev/null
cmake --build build-ppc-host -j2 --target lkpsim_host lkpsim_cli >/dev/null

gtest_version=$(dpkg-query -W -f='${Version}' googletest)
gtest=${TESVAR_CROSS_CACHE:-/var/cache/tesvar-cross}/googletest-$gtest_version-powerpc
cross/build-gtest.sh "$gtest"

cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cross/powerpc-linux-gnu.cmake \
  -DGTest_DIR="$gtest/lib/cmake/GTest" \
  -DLKPSIM_HOST_LAUNCHER="$PWD/build-ppc-host/sim/lkpsim-host" >/dev/null
cmake --build build-ppc -j2 >/dev/null
# The library needs only the C library on the device too.
scripts/check-needed.sh build-ppc/src/libtesvar.so
# Results and skips as scripts/test.sh records them (.ci/skip-report).
results=${TESVAR_TEST_RESULTS:-$PWD/build-ppc/test-results}
rm -rf "$results"
mkdir -p "$results/gtest"
status=0
# The second runs of the same programs on the upstream kernel model (the
# *_upstream entries) prove nothing more about the architecture: the
# simulator's rules are the same code on every architecture, and the real
# PowerPC kernel tier (55) runs the upstream rules themselves.
(cd build-ppc && GTEST_OUTPUT="xml:$results/gtest/" ctest --output-on-failure -j2 \
  -E '_upstream$' --output-junit "$results/ctest.xml") || status=$?
.ci/skip-report --tier "$results"
exit $status
