#!/usr/bin/env bash
# Builds libtesvar with its simulated kernel side and runs every test.
#   scripts/test.sh              native build in build/, ctest
#   scripts/test.sh --asan       AddressSanitizer+UBSan build in build-asan/, ctest
#   scripts/test.sh --tsan       ThreadSanitizer build in build-tsan/, the threaded tests
#   scripts/test.sh --valgrind   native build, every test executable under valgrind
#                                (memcheck; leaks and descriptors left open fail)
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
  --tsan) build=build-tsan; cmake_args=(-DTESVAR_BUILD_TESTS=ON -DTESVAR_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  *) echo "usage: $0 [--asan|--tsan|--valgrind]" >&2; exit 2 ;;
esac

cmake -S . -B "$build" "${cmake_args[@]}" >/dev/null
if [ "$mode" = --tsan ]; then
  # Only what the threaded tests need; a race report fails the test. The
  # simulated kernel side forks processes of its own from the threaded test
  # process that start threads again, which ThreadSanitizer refuses unless
  # told (die_after_fork=0); they share no memory with the test process.
  cmake --build "$build" -j"$(nproc)" --target concurrency_test cloexec_test lkpctl
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66 die_after_fork=0 ${TSAN_OPTIONS:-}"
  cd "$build"
  exec ctest --output-on-failure -R '^(concurrency|cloexec)_test$'
fi
cmake --build "$build" -j"$(nproc)"

if [ "$mode" = --valgrind ]; then
  # Each test executable once under valgrind (they fork the simulated
  # kernel side's server, whose exit is not reported). Definite and indirect
  # leaks are errors; so is a descriptor open at exit that the test did not
  # inherit.
  status=0
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  # A test's stdin is /dev/null: a program it starts on a terminal (script)
  # would otherwise read the rest of this list.
  while IFS= read -r test; do
    echo "== valgrind ${test#"$build"/}"
    valgrind --vgdb=no --error-exitcode=99 --leak-check=full \
      --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
      --track-fds=yes --child-silent-after-fork=yes -q --log-file="$log" \
      "$test" --gtest_brief=1 </dev/null && scripts/valgrind_fds.awk "$log" ||
      { status=1; cat "$log"; }
  done < <(find "$build/tests" -type f -executable -name '*_test' | sort)
  exit $status
fi

cd "$build"
ctest --output-on-failure
