#!/usr/bin/env bash
# The real kernel tier by hand: installs what it needs with apt, builds the
# library, lkpctl and the guest program in build-realkernel/, then boots a
# real Linux kernel under qemu and runs the guest tests there
# (vmtest/README.md). Nothing is inserted into this machine's kernel.
#   scripts/realkernel.sh [--timeout SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt-need.sh cmake g++ make gcc linux-headers-amd64 qemu-system-x86 busybox-static cpio

build=build-realkernel
cmake -S . -B "$build" -DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tesvar lkpctl lkp_guest_test >/dev/null
vmtest/run.sh --build-dir "$build" "$@"
