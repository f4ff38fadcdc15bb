#!/usr/bin/env bash
# The whole suite under AddressSanitizer+UBSan.
set -euo pipefail
scripts/test.sh --asan
