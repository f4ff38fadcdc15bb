#!/usr/bin/env bash
# The README's test command, last, so the run closes with ctest's summary.
set -euo pipefail
# The long entries (the real kernel, the update module's kill test) run in
# tiers of their own (50, 55, 75); so do the update module's other entries
# (75, with the real client), which would only run again here.
TESVAR_CTEST_ARGS="-LE long|mender" scripts/test.sh
