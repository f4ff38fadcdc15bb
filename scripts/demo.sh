#!/usr/bin/env bash
# The main job: builds libtesvar, lkpctl and the simulated kernel side, then
# runs a full package lifecycle with lkpctl inside the simulated kernel side:
# pack two units, check, load, list, activate, state, owner, deactivate,
# remove, list. Needs root (the simulated kernel lives in a private mount
# namespace; nothing on the host changes). Ends with nothing loaded.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/deps.sh"
cmake -S . -B build-demo -DTESVAR_BUILD_TESTS=OFF -DTESVAR_BUILD_SIM=ON >/dev/null
cmake --build build-demo -j"$(nproc)" --target lkpctl lkpsim_cli lkpsim_preload tesvar >/dev/null

exec build-demo/sim/lkpsim run --manager insertable -- \
  /bin/bash scripts/lifecycle.sh "$PWD/build-demo"
