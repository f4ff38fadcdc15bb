#!/usr/bin/env bash
# Static gates: clang-format, clang-tidy, cppcheck (scripts/lint.sh), and
# mandoc's linter on every manual page in the tree (scripts/lint-man.sh).
set -euo pipefail
scripts/lint.sh
scripts/apt-need.sh mandoc
scripts/lint-man.sh
