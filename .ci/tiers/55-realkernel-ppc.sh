#!/usr/bin/env bash
# The real kernel tier on the devices' architecture: the same guest programs
# and boots as 50-realkernel.sh, cross-built for 32-bit PowerPC and run in a
# PowerPC kernel (qemu-system-ppc, ppce500, e500mc) built from Debian's
# linux-source-6.1; the kernel and the guest's busybox are built once and
# cached in /var/cache/tesvar-kernel (docs/realkernel.md gives the costs).
set -euo pipefail
scripts/realkernel.sh ppc
