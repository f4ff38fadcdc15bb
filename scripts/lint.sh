#!/usr/bin/env bash
# The static gates, each failing the run: a merge's conflict markers,
# includes that run the wrong way between rooms (scripts/check-includes.sh),
# clang-format (the whole tree must be formatted), clang-tidy (.clang-tidy,
# warnings are errors) and cppcheck over the library, the tool and the guest
# programs. Installs its tools with apt when missing.
#   scripts/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt-need.sh clang-format clang-tidy cppcheck cmake g++ make

status=0

# A merge's conflict markers left in any tracked file (docs included).
echo "== conflict markers"
if git rev-parse --git-dir >/dev/null 2>&1 &&
  git grep -nE '^(<<<<<<<|>>>>>>>)( |$)' -- . ':!*.png'; then
  echo "conflict markers left by a merge" >&2
  status=1
fi

echo "== includes"
scripts/check-includes.sh || status=1

echo "== clang-format"
find include src tools sim tests bench vmtest fuzz \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror || status=1

# The compile commands of the library, the tool and the real kernel tier's
# guest programs; nothing is built.
build=build-lint
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_TESTS=OFF -DTESVAR_BUILD_BENCH=OFF >/dev/null
sources=$(find src tools vmtest -name '*.cpp' | sort)

echo "== clang-tidy"
echo "$sources" | xargs -P"$(nproc)" -n4 clang-tidy -p "$build" --quiet 2>/dev/null || status=1

echo "== cppcheck"
cppcheck --quiet --enable=warning,portability,performance --std=c++17 --inline-suppr \
  --error-exitcode=1 --project="$build/compile_commands.json" || status=1

exit $status
