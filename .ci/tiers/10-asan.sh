#!/usr/bin/env bash
# The whole suite under AddressSanitizer+UBSan.
set -euo pipefail
# The long entries (the real kernel, the update module's kill test) run in
# tiers of their own (50, 55, 75); the run of the tool's tests from a copy
# under /tmp checks where the build may lie, which 99-tests does.
TESVAR_CTEST_ARGS="-LE long -E ^lkpctl_tmp_copy_test$" scripts/test.sh --asan
