#!/usr/bin/env bash
# Builds libtesvar with its simulated kernel side and runs every test.
#   scripts/test.sh              native build in build/, ctest
#   scripts/test.sh --asan       AddressSanitizer+UBSan build in build-asan/, ctest
#   scripts/test.sh --valgrind   native build, every test executable under valgrind
# Needs root: the tests enter private namespaces and mount the simulated
# kernel side there (nothing on the host changes).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-native}
"$(dirname "$0")/deps.sh"

build=build
cmake_args=(-DTESVAR_BUILD_TESTS=ON -DTESVAR_BUILD_BENCH=ON)
case "$mode" in
  native|--valgrind) ;;
  --asan) build=build-asan; cmake_args+=(-DTESVAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "usage: $0 [--asan|--valgrind]" >&2; exit 2 ;;
esac

cmake -S . -B "$build" "${cmake_args[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

if [ "$mode" = --valgrind ]; then
  # Each test executable once under valgrind (they fork the simulated
  # kernel side's server, whose exit is not reported).
  status=0
  while IFS= read -r test; do
    echo "== valgrind ${test#"$build"/}"
    valgrind --vgdb=no --error-exitcode=99 --leak-check=full \
      --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
      --child-silent-after-fork=yes -q "$test" --gtest_brief=1 || status=1
  done < <(find "$build/tests" -type f -executable -name '*_test' | sort)
  exit $status
fi

cd "$build"
ctest --output-on-failure
