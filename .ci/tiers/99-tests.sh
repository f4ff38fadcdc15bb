#!/usr/bin/env bash
# The README's test command, last, so the run closes with ctest's summary.
set -euo pipefail
scripts/test.sh
