#!/usr/bin/env bash
# Installs, with apt, what building and testing libtesvar needs on Debian 12.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config binutils tar gzip
  libgtest-dev libgmock-dev libbenchmark-dev
  libfuse3-dev fuse3
  valgrind man-db
  # the manual pages' linter and the directory of bash completions
  mandoc bash-completion
  # the update module's end-to-end tests with the real client
  mender-client mender-artifact openssl busybox-static
)

"$(dirname "$0")/apt-need.sh" "${packages[@]}"
