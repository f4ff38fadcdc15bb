#!/usr/bin/env bash
# The real kernel tier by hand, for one architecture: installs what it needs
# with apt, builds the library, lkpctl and the guest programs, then boots a
# real Linux kernel under qemu and runs the guest tests there
# (vmtest/README.md). Nothing is inserted into this machine's kernel.
#   scripts/realkernel.sh [x86_64|ppc] [--timeout SECONDS]
# x86_64 (the default) builds natively in build-realkernel/. ppc cross-builds
# for 32-bit PowerPC in build-realkernel-ppc/ (cross/powerpc-linux-gnu.cmake),
# keeps the native build-realkernel/ for the lkpctl that packs on this
# machine, and builds the guest kernel and busybox from Debian's sources the
# first time (cached in /var/cache/tesvar-kernel, or $TESVAR_KERNEL_CACHE).
set -euo pipefail
cd "$(dirname "$0")/.."

arch=x86_64
case "${1:-}" in
  x86_64 | ppc) arch=$1; shift ;;
esac

host="build-realkernel"
case "$arch" in
  x86_64)
    scripts/apt-need.sh cmake g++ make gcc linux-headers-amd64 qemu-system-x86 busybox-static cpio
    ;;
  ppc)
    scripts/apt-need.sh cmake g++ make gcc cpio qemu-system-ppc linux-source-6.1 \
      gcc-powerpc-linux-gnu g++-powerpc-linux-gnu libc6-dev-powerpc-cross binutils-powerpc-linux-gnu \
      bc flex bison dpkg-dev xz-utils file
    ;;
esac

# The native build: the x86_64 guest's programs, and lkpctl for this machine.
cmake -S . -B "$host" -DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_TESTS=OFF >/dev/null
if [ "$arch" = x86_64 ]; then
  cmake --build "$host" -j2 --target tesvar lkpctl lkp_guest_test lkp_guest_target >/dev/null
  exec vmtest/run.sh --arch x86_64 --build-dir "$host" "$@"
fi
cmake --build "$host" -j2 --target tesvar lkpctl >/dev/null

build="build-realkernel-ppc"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cross/powerpc-linux-gnu.cmake \
  -DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tesvar lkpctl lkp_guest_test lkp_guest_target >/dev/null
exec vmtest/run.sh --arch ppc --build-dir "$build" --host-build "$host" "$@"
