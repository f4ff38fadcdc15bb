#!/usr/bin/env bash
# The libFuzzer targets (ELF reader, manifest reader), 60 s each, with clang.
set -euo pipefail
scripts/apt-need.sh clang libclang-rt-14-dev g++ cmake make
scripts/fuzz.sh 60
