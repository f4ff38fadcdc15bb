#!/usr/bin/env bash
# The README's main job: a full package lifecycle on the simulated kernel side.
set -euo pipefail
scripts/demo.sh
