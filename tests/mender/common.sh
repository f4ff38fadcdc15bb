# shellcheck shell=bash disable=SC2154 # source_dir, build_dir, scenario, shell_name: set by the test
# common.sh: set-up and helpers shared by the update module's tests
# (mender_e2e.sh, mender_hostile.sh, mender_kill.sh); sourced by bash with
# source_dir and build_dir set.
#
# enter_simulator SCRIPT: runs SCRIPT again inside `lkpsim run` (a private
# mount namespace whose module calls are simulated), where /etc/mender, the
# client's module folder and /var/lib (the package store and the module's
# pending record) become private tmpfs mounts and the client's data
# directory a temporary one: nothing on the host changes.
enter_simulator() {
  if [ "${MENDER_TEST_INSIDE:-}" != 1 ]; then
    local tool
    for tool in mender mender-artifact openssl busybox dash; do
      command -v "$tool" >/dev/null || { echo "${1##*/}: $tool is not installed" >&2; exit 1; }
    done
    # What the simulated kernel side needs of the host; without it the test
    # skips with the reason (exit 77, ctest's SKIP_RETURN_CODE).
    skip() { echo "[  SKIPPED ] ${1##*/}: $2"; exit 77; }
    [ "$(id -u)" -eq 0 ] || skip "$1" "the simulated kernel side needs root"
    unshare --mount true 2>/dev/null || skip "$1" "no private mount namespace on this host"
    { exec 3<>/dev/fuse; } 2>/dev/null || skip "$1" "no usable /dev/fuse on this host"
    exec 3>&-
    MENDER_TEST_INSIDE=1 exec "$build_dir/sim/lkpsim" run --manager insertable -- \
      /bin/bash "$1" "$source_dir" "$build_dir"
  fi
  export PATH="$build_dir/tools:$build_dir/sim:$PATH"
  modules=/usr/share/mender/modules/v3
  module=$modules/tesvar-livepatch
  work=$(mktemp -d /tmp/mender-test.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  failures=0
  checks=0
  mount -t tmpfs mender-etc /etc/mender
  mount -t tmpfs mender-modules "$modules"
  mount -t tmpfs var-lib /var/lib
  echo 'artifact_name=factory' >/etc/mender/artifact_info
  release=$(uname -r)
  cd "$work" || exit 1
}

fail() {
  echo "FAIL [$scenario, $shell_name]: $*" >&2
  failures=$((failures + 1))
}
expect_eq() { # WHAT ACTUAL EXPECTED
  checks=$((checks + 1))
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}
expect_log() { # WHAT PATTERN FILE: a line of FILE matches the grep pattern
  checks=$((checks + 1))
  grep -q -e "$2" "$3" || fail "$1: no line matching '$2' in: $(cat "$3")"
}

# What the kernel and the store hold: "name=state ..." and "name ...".
loaded() {
  lkpctl --json list 2>/dev/null | grep -o '"name":"[^"]*\.tar\.gz","state":"[a-z]*"' |
    sed 's/"name":"\([^"]*\)","state":"\([a-z]*\)"/\1=\2/' | tr '\n' ' ' | sed 's/ $//'
}
# Packages with fewer records in the control file than their unit count.
partial_packages() {
  awk -F, '{ n[$2]++; if ($1 + 0 > want[$2]) want[$2] = $1 + 0 }
    END { for (p in n) if (n[p] < want[p]) printf "%s(%d of %d) ", p, n[p], want[p] }' /proc/navo_lkp_list |
    sed 's/ $//'
}
# status exits non-zero when something needs an operator: its store is the
# answer all the same.
store() { { lkpctl --json status || true; } | sed 's/.*"store":"\([^"]*\)".*/\1/'; }
installed() { sed -n '/^[^#]/p' "$(store)/order" 2>/dev/null | tr '\n' ' ' | sed 's/ $//'; }
pending() { [ -d /var/lib/tesvar-livepatch/pending ] && echo pending || echo none; }

client() { # mender SUBCOMMAND ARGS; output in $work/client.log
  mender --no-syslog --data "$work/data" "$@" >"$work/client.log" 2>&1
}

# Everything back to nothing between scenarios.
reset_all() {
  local entry
  for entry in $(loaded); do
    lkpctl deactivate "${entry%=*}" >/dev/null 2>&1 || true
    lkpctl remove "${entry%=*}" >/dev/null 2>&1 || true
  done
  rm -rf /var/lib/* "$work/data" /etc/mender/mender.conf
  mkdir -p "$work/data"
  echo 'device_type=board-a' >"$work/data/device_type"
}

# mkmod NAME TARGET: a patch module built for the running kernel release.
mkmod() {
  lkpsim mkmod -o "$1.ko" --name "$1" --target "$2" --vermagic "$release SMP mod_unload" >/dev/null
}
make_artifact() { "$source_dir/scripts/make-livepatch-artifact.sh" "$@" >/dev/null; }

# use_shell NAME: installs the module as cmake --install does, to run under
# dash or busybox sh.
use_shell() {
  shell_name=$1
  if [ "$1" = dash ]; then
    { echo "#!$(command -v dash)"; tail -n +2 "$source_dir/mender/tesvar-livepatch"; } >"$module"
  else
    { echo "#!$(command -v busybox) sh"; tail -n +2 "$source_dir/mender/tesvar-livepatch"; } >"$module"
  fi
  chmod 0755 "$module"
}

finish() { # NAME
  if [ "$failures" -ne 0 ]; then
    echo "$1: $failures of $checks checks failed" >&2
    exit 1
  fi
  echo "$1: all $checks checks pass under dash and busybox sh"
}

shim=$build_dir/tests/mender/libmender_kill_shim.so
# load_cut_short FILE K: lkpctl load FILE in a session of its own, killed
# just before its K-th module call: what a power cut leaves.
load_cut_short() {
  rm -f "$work/module-calls"
  { setsid -w env LD_PRELOAD="$shim${LD_PRELOAD:+ $LD_PRELOAD}" TESVAR_KILL_COUNTER="$work/module-calls" \
    TESVAR_KILL_AT_MODULE_CALL="$2" lkpctl load "$1" >/dev/null 2>&1; } 2>/dev/null || true
}
