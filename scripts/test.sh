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

# Every run leaves its results (GoogleTest XML, ctest's JUnit) where .ci/run
# asks (TESVAR_TEST_RESULTS) or in the build tree, and ends with the list of
# skipped tests and their reasons (.ci/skip-report). Not under /tmp: the
# tests see a private one.
results=${TESVAR_TEST_RESULTS:-$PWD/$build/test-results}
rm -rf "$results"
mkdir -p "$results/gtest"
export GTEST_OUTPUT="xml:$results/gtest/"
report_skips() { .ci/skip-report --tier "$results"; }
if [ "$mode" = --tsan ]; then
  # Only what the threaded tests need; a race report fails the test. The
  # simulated kernel side forks processes of its own from the threaded test
  # process that start threads again, which ThreadSanitizer refuses unless
  # told (die_after_fork=0); they share no memory with the test process.
  cmake --build "$build" -j"$(nproc)" --target concurrency_test cloexec_test lkpctl
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66 die_after_fork=0 ${TSAN_OPTIONS:-}"
  status=0
  (cd "$build" && ctest --output-on-failure --output-junit "$results/ctest.xml" \
    -R '^(concurrency|cloexec)_test$') || status=$?
  report_skips
  exit $status
fi
cmake --build "$build" -j"$(nproc)"

if [ "$mode" = --valgrind ]; then
  # Each test executable once under valgrind (they fork the simulated
  # kernel side's server, whose exit is not reported), one per core: each
  # lives in private namespaces of its own. Definite and indirect leaks are
  # errors; so is a descriptor open at exit that the test did not inherit.
  logs=$(mktemp -d)
  trap 'rm -rf "$logs"' EXIT
  # TEST LOGS: runs one test; its output, valgrind's log and its exit status
  # go to LOGS under the test's path with "/" turned into "_". Its stdin is
  # /dev/null: a program it starts on a terminal (script) reads nothing.
  run_under_valgrind() {
    local test=$1 into=$2/${1//\//_} code=0
    valgrind --vgdb=no --error-exitcode=99 --leak-check=full \
      --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
      --track-fds=yes --child-silent-after-fork=yes -q --log-file="$into.vg" \
      "$test" --gtest_brief=1 </dev/null >"$into.out" 2>&1 || code=$?
    echo "$code" >"$into.code"
  }
  export -f run_under_valgrind
  find "$build/tests" -type f -executable -name '*_test' -print0 | sort -z |
    xargs -0 -n1 -P"$(nproc)" bash -c 'run_under_valgrind "$1" "$0"' "$logs"
  status=0
  while IFS= read -r -d '' test; do
    into=$logs/${test//\//_}
    echo "== valgrind ${test#"$build"/}"
    cat "$into.out"
    code=$(cat "$into.code")
    if [ "$code" -eq 77 ]; then
      # The host lacks what the simulated kernel side needs: every test skipped.
      echo "${test##*/}: $(sed -n 's/.*\[  SKIPPED \] //p' "$into.out" | head -1)" \
        >>"$results/skipped-executables"
    elif [ "$code" -ne 0 ] || ! scripts/valgrind_fds.awk "$into.vg"; then
      status=1
      cat "$into.vg"
    fi
  done < <(find "$build/tests" -type f -executable -name '*_test' -print0 | sort -z)
  report_skips
  exit $status
fi

# TESVAR_CTEST_ARGS: more ctest arguments (CI passes "-LE long" where the
# long entries, the real kernel and the update module's kill test, have a
# tier of their own).
read -r -a extra <<<"${TESVAR_CTEST_ARGS:-}"
status=0
# Entries run side by side, one per core: each test program lives in
# private namespaces of its own, so they share nothing.
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --output-junit "$results/ctest.xml" \
  "${extra[@]}") ||
  status=$?
report_skips
exit $status
