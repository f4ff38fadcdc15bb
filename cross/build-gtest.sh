#!/bin/sh
# Builds GoogleTest for 32-bit PowerPC from Debian's sources (package
# googletest) and installs it into PREFIX (default: build-ppc-gtest in the
# checkout). Does nothing when PREFIX already holds it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
prefix=${1:-$here/../build-ppc-gtest}
if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S /usr/src/googletest -B "$work" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/powerpc-linux-gnu.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON >/dev/null
cmake --build "$work" -j2 >/dev/null
cmake --install "$work" >/dev/null
