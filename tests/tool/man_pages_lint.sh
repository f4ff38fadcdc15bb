#!/usr/bin/env bash
# ctest's view of scripts/lint-man.sh: skipped (77) where mandoc is missing.
#   man_pages_lint.sh SOURCE_DIR
set -euo pipefail
command -v mandoc >/dev/null || { echo "skipped: mandoc is not installed"; exit 77; }
exec "$1/scripts/lint-man.sh" "$1"
