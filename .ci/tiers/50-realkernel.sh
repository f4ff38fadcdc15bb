#!/usr/bin/env bash
# The library and lkpctl against a real Linux kernel under qemu, with our own
# kernel-side modules; a failure in the guest fails the run with the guest's
# own messages.
set -euo pipefail
scripts/realkernel.sh
