#!/usr/bin/env bash
# The main job: builds libtesvar, lkpctl and the simulated kernel side, then
# runs, with lkpctl inside the simulated kernel side, a full package
# lifecycle (pack two units, check, load, list, activate, state, owner,
# deactivate, remove, list) and the README's operator story (pack, check,
# install, boot, status, uninstall). Needs root (the simulated kernel lives in
# a private mount namespace; nothing on the host changes). Ends with nothing
# loaded.
#
# Builds in build/, the tree scripts/test.sh uses (same configuration), and
# only what the demo needs: test.sh then builds the rest and no file is
# compiled twice.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf 'demo.sh: %s\n' "$*"; }

say "checking the build dependencies (apt, first time only)"
"$(dirname "$0")/deps.sh"
say "configuring build/"
cmake -S . -B build -DTESVAR_BUILD_TESTS=ON -DTESVAR_BUILD_BENCH=ON >/dev/null
say "building libtesvar, lkpctl and lkpsim in build/ (a few minutes the first time; progress below)"
# cmake's own progress lines, one per step; errors come through in full.
cmake --build build -j"$(nproc)" --target lkpctl lkpsim_cli lkpsim_preload tesvar |
  { grep --line-buffered -v -e '^make\[' -e '^Consolidate compiler generated' || true; }
say "built; running the lifecycle on the simulated kernel side"

exec build/sim/lkpsim run --manager insertable -- \
  /bin/bash scripts/lifecycle.sh "$PWD/build" "$PWD/README.md"
