#!/usr/bin/env bash
# The install stays inside its prefix: for the prefixes /usr/local and /usr
# (each configured with that prefix, and once configured with /usr/local but
# installed with --prefix /usr, as a packager may do), `cmake --install` into
# an empty DESTDIR must write nothing outside it (every path of
# install_manifest.txt is under the prefix, and the stage holds exactly those
# files), and `cmake --install --prefix STAGE` nothing outside STAGE; the unit
# and the init script must name the lkpctl of that prefix, which must run;
# `systemd-analyze verify` must accept the staged unit against the staged
# lkpctl; the update module must land under the prefix, with a warning when
# that is not where the Mender client looks; and the installed library must
# need only the C library.
set -euo pipefail

scripts/apt-need.sh cmake g++ make systemd man-db binutils

fail() { echo "72-install: $*" >&2; exit 1; }
scratch=()
trap 'rm -rf "${scratch[@]}"' EXIT

# CONFIGURED_PREFIX INSTALL_PREFIX
check_install() {
  local configured=$1 prefix=$2
  local build=build-install${configured//\//-}
  local stage manifest log
  stage=$(mktemp -d)
  log=$(mktemp)
  scratch+=("$stage" "$log")
  echo "72-install: configured for $configured, installed to $prefix"
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX="$configured" -DTESVAR_BUILD_TESTS=OFF \
    -DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_VMTEST=OFF >/dev/null
  cmake --build "$build" -j2 --target tesvar lkpctl >/dev/null
  rm -f "$build/install_manifest.txt"
  DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$log" 2>&1 ||
    { cat "$log" >&2; fail "cmake --install failed"; }
  manifest="$build/install_manifest.txt"
  [ -s "$manifest" ] || fail "no install manifest"

  # The manifest lists the paths without DESTDIR: each under the prefix (or
  # /etc for the prefix /usr), and the stage holds exactly those files.
  local outside
  outside=$(grep -v "^$prefix/" "$manifest" | grep -v "^/etc/" || true)
  [ -z "$outside" ] || fail "installed outside the prefix $prefix: $outside"
  if [ "$prefix" != /usr ] && grep -q "^/etc/" "$manifest"; then
    fail "installed into /etc for the prefix $prefix"
  fi
  local stray
  stray=$(diff <(sed "s|^|$stage|" "$manifest" | sort) <(find "$stage" ! -type d | sort) || true)
  [ -z "$stray" ] || fail "the stage and the manifest differ (< only listed, > only found): $stray"

  # Installed with the stage as the prefix and no DESTDIR, as a packager
  # staging a root file system may do: every path under the stage.
  local direct=$stage-direct
  scratch+=("$direct")
  rm -f "$manifest"
  cmake --install "$build" --prefix "$direct" >/dev/null 2>&1 || fail "cmake --install --prefix $direct failed"
  outside=$(grep -v "^$direct/" "$manifest" || true)
  [ -z "$outside" ] || fail "installed outside the prefix $direct: $outside"
  stray=$(diff <(sort "$manifest") <(find "$direct" ! -type d | sort) || true)
  [ -z "$stray" ] || fail "the prefix $direct and the manifest differ: $stray"

  local root=$stage$prefix
  local init=$root/etc/init.d/tesvar
  [ "$prefix" = /usr ] && init=$stage/etc/init.d/tesvar
  local unit=$root/lib/systemd/system/tesvar.service
  for file in "$unit" "$init" "$root/bin/lkpctl" "$root/include/tesvar.h"; do
    [ -e "$file" ] || fail "not installed: ${file#"$stage"}"
  done
  [ -x "$init" ] || fail "${init#"$stage"} is not executable"
  grep -qx "ExecStart=$prefix/bin/lkpctl boot" "$unit" || fail "the unit does not run $prefix/bin/lkpctl"
  grep -qx "LKPCTL=$prefix/bin/lkpctl" "$init" || fail "the init script does not run $prefix/bin/lkpctl"
  sh -n "$init"
  "$root/bin/lkpctl" --version >/dev/null || fail "the staged lkpctl does not run"
  local library
  library=$(find "$stage" -name 'libtesvar.so.*.*' -type f)
  [ -n "$library" ] || fail "no libtesvar.so installed"
  scripts/check-needed.sh "$library"

  local module=$root/share/mender/modules/v3/tesvar-livepatch
  [ -x "$module" ] || fail "the update module is not in ${module#"$stage"}"
  if [ "$prefix" = /usr ]; then
    ! grep -q "Mender client" "$log" || fail "a warning about the update module for the prefix /usr"
  else
    grep -q "looks only in /usr/share/mender/modules/v3" "$log" ||
      fail "no warning that the Mender client does not look in $prefix"
  fi

  local complaints
  complaints=$(MANPATH="$root/share/man" systemd-analyze verify --root="$stage" tesvar.service 2>&1) ||
    { echo "$complaints" >&2; fail "systemd-analyze verify failed"; }
  [ -z "$complaints" ] || { echo "$complaints" >&2; fail "systemd-analyze verify complained"; }
}

check_install /usr/local /usr/local
check_install /usr /usr
check_install /usr/local /usr
echo "72-install: every install stayed in its stage; units verified"
