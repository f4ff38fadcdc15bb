#!/usr/bin/env bash
# Measures what a device image carries of ours: the stripped sizes of
# libtesvar.so and lkpctl for x86-64 and 32-bit PowerPC (the README's
# default build, RelWithDebInfo, stripped as an image build would), and the
# libraries each needs (NEEDED). Writes the section between the "sizes"
# markers of docs/performance.md (bench/performance.sh keeps it).
#   scripts/sizes.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt-need.sh cmake g++ make binutils g++-powerpc-linux-gnu libc6-dev-powerpc-cross

options=(-DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_TESTS=OFF -DTESVAR_BUILD_VMTEST=OFF)
cmake -S . -B build-sizes "${options[@]}" >/dev/null
cmake --build build-sizes -j2 --target tesvar lkpctl >/dev/null
cmake -S . -B build-sizes-ppc -DCMAKE_TOOLCHAIN_FILE=cross/powerpc-linux-gnu.cmake "${options[@]}" >/dev/null
cmake --build build-sizes-ppc -j2 --target tesvar lkpctl >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# ARCH STRIP FILE: one table row.
row() {
  local copy=$scratch/${3##*/}
  cp "$3" "$copy"
  "$2" --strip-all "$copy"
  local needed
  needed=$(readelf -d "$copy" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | paste -sd ' ' | sed 's/ /, /g')
  printf '| %s | `%s` | %s | %s |\n' "$1" "${3##*/}" "$(stat -c %s "$copy") ($(( ($(stat -c %s "$copy") + 512) / 1024 )) KiB)" "$needed"
}

section=$scratch/section.md
{
  echo '<!-- sizes -->'
  echo '## What a device carries'
  echo
  echo "Written by \`scripts/sizes.sh\` ($(date -u +%Y-%m-%d), $(g++ --version | head -1), RelWithDebInfo"
  echo 'stripped with `strip --strip-all`). The library needs the C library alone: CI fails on'
  echo 'any other NEEDED entry (`scripts/check-needed.sh`, ctest `abi_needs_only_libc`, tiers'
  echo '`60-ppc.sh`, `72-install.sh`, `85-debian.sh`). lkpctl, a C++ program, also needs the C++'
  echo 'runtime (`libstdc++.so.6`, `libgcc_s.so.1`).'
  echo
  echo '| Architecture | File | Bytes stripped | Needs |'
  echo '|---|---|---:|---|'
  row x86-64 strip build-sizes/src/libtesvar.so.1.0.0
  row x86-64 strip build-sizes/tools/lkpctl
  row "32-bit PowerPC" powerpc-linux-gnu-strip build-sizes-ppc/src/libtesvar.so.1.0.0
  row "32-bit PowerPC" powerpc-linux-gnu-strip build-sizes-ppc/tools/lkpctl
  echo '<!-- /sizes -->'
} >"$section"

page=docs/performance.md
if grep -q '^<!-- sizes -->$' "$page"; then
  awk -v file="$section" '
    /^<!-- sizes -->$/ { while ((getline line < file) > 0) print line; skip = 1; next }
    /^<!-- \/sizes -->$/ { skip = 0; next }
    !skip' "$page" >"$scratch/page.md"
else
  { cat "$page"; echo; cat "$section"; } >"$scratch/page.md"
fi
cp "$scratch/page.md" "$page"
cat "$section"
