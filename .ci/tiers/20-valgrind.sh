#!/usr/bin/env bash
# Every test executable under valgrind memcheck.
set -euo pipefail
scripts/test.sh --valgrind
