#!/usr/bin/env bash
# The operator's boot-time service: installs lkpctl, the systemd unit and the
# init script into a staging root with `cmake --install`, then checks the
# unit with systemd-analyze verify (any complaint fails, not only errors),
# the init script with sh -n, and that the bash completion and the manual
# page are installed (the page read by man --warnings). The store, boot and status themselves are
# tested end to end by lkpctl_test (99-tests.sh) and the demo (80-demo.sh).
set -euo pipefail

scripts/apt-need.sh systemd man-db bash-completion
scripts/deps.sh

build=build-operators
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DTESVAR_BUILD_TESTS=OFF \
  -DTESVAR_BUILD_SIM=OFF -DTESVAR_BUILD_VMTEST=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target lkpctl >/dev/null
DESTDIR="$stage" cmake --install "$build" >/dev/null

unit="$stage/usr/lib/systemd/system/tesvar.service"
script="$stage/etc/init.d/tesvar"
completion="$stage/usr/share/bash-completion/completions/lkpctl"
for file in "$unit" "$script" "$stage/usr/bin/lkpctl" "$completion" "$stage/usr/share/man/man1/lkpctl.1"; do
  [ -e "$file" ] || { echo "70-operators: cmake --install did not install $file" >&2; exit 1; }
done
[ -x "$script" ] || { echo "70-operators: $script is not executable" >&2; exit 1; }
grep -qx 'ExecStart=/usr/bin/lkpctl boot' "$unit" || { echo "70-operators: unit does not run the installed lkpctl" >&2; exit 1; }

# The man page the unit's Documentation= names is looked up in the stage.
complaints=$(MANPATH="$stage/usr/share/man" systemd-analyze verify --root="$stage" tesvar.service 2>&1) || {
  echo "$complaints" >&2
  exit 1
}
if [ -n "$complaints" ]; then
  echo "70-operators: systemd-analyze verify complained:" >&2
  echo "$complaints" >&2
  exit 1
fi
sh -n "$script"
bash -n "$completion"
# The installed manual page reads without a warning from man itself too.
warnings=$(MANWIDTH=80 man --warnings -l "$stage/usr/share/man/man1/lkpctl.1" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "70-operators: man --warnings complained about lkpctl.1:" >&2
  echo "$warnings" >&2
  exit 1
fi
echo "70-operators: tesvar.service verified, init script parses, completion and man page installed"
