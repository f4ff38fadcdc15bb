#!/usr/bin/env bash
# Installs, with apt, what building and testing libtesvar needs on Debian 12.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config binutils tar gzip
  libgtest-dev libgmock-dev libbenchmark-dev
  libfuse3-dev fuse3
  valgrind man-db
  # the update module's end-to-end tests with the real client
  mender-client mender-artifact openssl busybox-static
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "deps.sh: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
