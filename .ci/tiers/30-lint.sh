#!/usr/bin/env bash
# Static gates: clang-format, clang-tidy, cppcheck (scripts/lint.sh).
set -euo pipefail
scripts/lint.sh
