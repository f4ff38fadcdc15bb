#!/usr/bin/env bash
# The libFuzzer targets (ELF reader, manifest reader), 60 s each, with clang.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
needed=()
for package in clang libclang-rt-14-dev g++ cmake make; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || needed+=("$package")
done
if [ "${#needed[@]}" -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${needed[@]}"
fi
scripts/fuzz.sh 60
