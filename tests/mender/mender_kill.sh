#!/usr/bin/env bash
# Kill tests of the update module tesvar-livepatch with the real Mender
# client in standalone mode, on the simulated kernel side (common.sh says
# how). An install of a 3-unit artifact runs in a session of its own, and the
# whole session (client, module, lkpctl) is killed at one point of it:
#   before the N-th lkpctl call, after the N-th lkpctl call (a wrapper given
#   to the module as TESVAR_LKPCTL), or just before the K-th module call of
#   the session (a preloaded library inside lkpctl: between two units);
# every point in turn, counted in a first run that kills nothing. After each
# kill: the same install again must either be refused or leave the package
# whole; then the documented recovery (mender rollback, and when the client
# answers that nothing is pending, tesvar-livepatch RollbackPending) must
# leave the device exactly as before the install, nothing partially loaded;
# then the install must give the whole package. Then, after a whole
# install that replaces one: its rollback killed while it takes the new
# package out, its commit killed once the store holds the new package and
# not the old one, each followed by the documented recovery; and a power
# cut in the commit followed by a restart with `lkpctl boot`, then either
# the documented recovery or the next install of another artifact. Two
# artifacts: one on a device without live patches, one that replaces an
# installed 2-unit package. Under dash and busybox sh.
#   mender_kill.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
# shellcheck source=tests/mender/common.sh
. "$source_dir/tests/mender/common.sh"
enter_simulator "$source_dir/tests/mender/mender_kill.sh"

mkmod big_a ext4
mkmod big_b nfs
mkmod big_c ext4
mkmod old_a ext4
mkmod old_b nfs
mkmod other_a nfs
lkpctl pack -o big.tar.gz --date 2020-01-01 big_a.ko big_b.ko big_c.ko >/dev/null
lkpctl pack -o old.tar.gz --date 2020-01-01 old_a.ko old_b.ko >/dev/null
make_artifact -o old.mender -n fix-old -t board-a old.tar.gz
make_artifact -o big.mender -n fix-big -t board-a big.tar.gz
make_artifact -o big-replacing.mender -n fix-big -t board-a -r old.tar.gz big.tar.gz
lkpctl pack -o other.tar.gz --date 2020-01-01 other_a.ko >/dev/null
make_artifact -o other.mender -n fix-other -t board-a other.tar.gz

# The lkpctl the module runs: counts its calls in $KILL_DIR/calls and, before
# or after the chosen one, kills the client's session: the client's process
# group (the session leader's) and its own (the module's, which the client
# starts in a group of its own).
cat >"$work/lkpctl-kill" <<WRAPPER
#!/bin/sh
n=\$((\$(cat "\$KILL_DIR/calls" 2>/dev/null || echo 0) + 1))
echo "\$n" >"\$KILL_DIR/calls"
session=\$(awk '{ print \$6 }' /proc/\$\$/stat)
[ "\$n" != "\${KILL_BEFORE_CALL:-0}" ] || kill -9 "-\$session" 0
LD_PRELOAD="$shim\${LD_PRELOAD:+ \$LD_PRELOAD}" TESVAR_KILL_COUNTER="\$KILL_DIR/module-calls" \\
  "$build_dir/tools/lkpctl" "\$@"
status=\$?
[ "\$n" != "\${KILL_AFTER_CALL:-0}" ] || kill -9 "-\$session" 0
exit \$status
WRAPPER
chmod 0755 "$work/lkpctl-kill"

# killed_install ARTIFACT VARIABLE=VALUE...: the install in a session of its
# own, with the kill point in the environment; sets killed_status.
killed_install() {
  local artifact=$1
  shift
  killed_client "install $artifact" "$@"
}
# killed_client "SUBCOMMAND [ARTIFACT]" VARIABLE=VALUE...: the same for any
# client command.
killed_client() {
  local command=$1
  shift
  rm -rf "$work/kill" && mkdir "$work/kill"
  killed_status=0
  # shellcheck disable=SC2086 # the subcommand and its artifact
  { setsid -w env TESVAR_LKPCTL="$work/lkpctl-kill" KILL_DIR="$work/kill" "$@" \
    mender --no-syslog --data "$work/data" $command >"$work/client.log" 2>&1; } 2>/dev/null ||
    killed_status=$?
  calls=$(cat "$work/kill/calls" 2>/dev/null || echo 0)
  module_calls=$(cat "$work/kill/module-calls" 2>/dev/null || echo 0)
}

prepare() { # the device before the install
  reset_all
  if [ "$case_name" = replacing ]; then
    { lkpctl install "$work/old.tar.gz" && lkpctl load "$work/old.tar.gz" && lkpctl activate old.tar.gz; } >/dev/null ||
      fail "set-up failed"
  fi
}

# The documented recovery: the device must be as before the install.
recover() {
  local status=0
  client rollback || status=$?
  case $status in
  0) by_client=$((by_client + 1)) ;;
  2)
    "$module" RollbackPending 2>"$work/module.log" || fail "RollbackPending exited $? ($(cat "$work/module.log"))"
    by_module=$((by_module + 1))
    ;;
  *) fail "mender rollback exited $status ($(cat "$work/client.log"))" ;;
  esac
  expect_eq "kernel after recovery" "$(loaded)" "$before"
  expect_eq "nothing partial after recovery" "$(partial_packages)" ""
  expect_eq "store after recovery" "$(installed)" "$before_store"
  expect_eq "pending after recovery" "$(pending)" none
}

# One kill point of the current case: kill, try again, recover, install.
kill_at() { # DESCRIPTION VARIABLE=VALUE
  scenario="$case_name, killed $1"
  prepare
  killed_install "$artifact" "$2"
  expect_eq "the session was killed" "$killed_status" 137
  [ -z "$(partial_packages)" ] || left_partial=$((left_partial + 1))

  # The same install again, without recovery: refused, or whole.
  local status=0
  client install "$artifact" || status=$?
  if [ "$status" = 0 ]; then
    expect_eq "reinstall after the kill succeeded: kernel" "$(loaded)" "$after"
    expect_eq "reinstall after the kill succeeded: nothing partial" "$(partial_packages)" ""
    reinstalled=$((reinstalled + 1))
  else
    expect_eq "reinstall after the kill: exit status" "$status" 1
    refused=$((refused + 1))
  fi

  recover

  client install "$artifact" || fail "install after recovery: $(cat "$work/client.log")"
  expect_eq "kernel after the install after recovery" "$(loaded)" "$after"
  expect_eq "nothing partial after the install after recovery" "$(partial_packages)" ""
  points=$((points + 1))
}

# kill_after_install SUBCOMMAND DESCRIPTION VARIABLE=VALUE WHAT EXPECTED: a
# whole install, then its commit or rollback killed at one point (WHAT, a
# command, must then print EXPECTED: the kill hit where it was meant to),
# then the documented recovery.
kill_after_install() {
  scenario="$case_name, $1 killed $2"
  prepare
  client install "$artifact" || fail "install: $(cat "$work/client.log")"
  killed_client "$1" "$3"
  expect_eq "the session was killed" "$killed_status" 137
  expect_eq "what the kill left" "$($4)" "$5"
  recover
  points=$((points + 1))
}

# A power cut in the commit, once the new package is in the store: the
# device starts again (every live patch gone, another boot id) and
# `lkpctl boot` loads what the store holds, the new package with the one it
# replaces. Then either the documented recovery, or no recovery and the next
# install of another artifact, which must undo the commit's part first:
# the store and the kernel as before, plus the other artifact.
power_cut_in_commit() { # rollback|other
  scenario="$case_name, power cut in the commit, boot, then $1"
  prepare
  client install "$artifact" || fail "install: $(cat "$work/client.log")"
  killed_client commit KILL_AFTER_CALL=3 # after "install big" (see run_case)
  expect_eq "the session was killed" "$killed_status" 137
  local entry
  for entry in $(loaded); do
    { lkpctl deactivate "${entry%=*}" && lkpctl remove "${entry%=*}"; } >/dev/null 2>&1 || fail "cannot take out $entry"
  done
  echo 00000000-0000-0000-0000-000000000000 >/var/lib/tesvar-livepatch/pending/boot_id
  lkpctl boot >/dev/null 2>&1 || fail "lkpctl boot exited $?"
  expect_eq "kernel after boot" "$(loaded)" "${before:+$before }big.tar.gz=enabled"
  if [ "$1" = rollback ]; then
    recover
  else
    client install "$work/other.mender" || fail "next install: $(cat "$work/client.log")"
    expect_log "the deployment log says what was undone" \
      "tesvar-livepatch: ArtifactInstall: undoing the commit of artifact 'fix-big' cut short before the last reboot" "$work/client.log"
    expect_eq "kernel after the next install" "$(loaded)" "${before:+$before }other.tar.gz=enabled"
    expect_eq "store after the next install" "$(installed)" "$before_store"
    client rollback || fail "rollback of the next install: $(cat "$work/client.log")"
    expect_eq "kernel after its rollback" "$(loaded)" "$before"
  fi
  points=$((points + 1))
}

run_case() { # NAME
  case_name=$1
  if [ "$1" = fresh ]; then
    artifact=$work/big.mender before="" before_store=""
  else
    artifact=$work/big-replacing.mender before="old.tar.gz=enabled" before_store="old.tar.gz"
  fi
  after="big.tar.gz=enabled"
  # Count the calls of an install that is not killed, once the patch
  # manager module is in (the first install of all inserts it).
  scenario="$case_name, counting"
  prepare
  { client install "$artifact" && client rollback; } || fail "warm-up: $(cat "$work/client.log")"
  prepare
  killed_install "$artifact"
  expect_eq "install without a kill" "$killed_status" 0
  local total_calls=$calls total_module_calls=$module_calls n
  echo "mender_kill [$case_name, $shell_name]: $total_calls lkpctl calls, $total_module_calls module calls"
  { [ "$total_calls" -gt 2 ] && [ "$total_module_calls" -ge 3 ]; } || fail "too few calls counted"
  for n in $(seq 1 "$total_calls"); do
    kill_at "before lkpctl call $n" KILL_BEFORE_CALL="$n"
    kill_at "after lkpctl call $n" KILL_AFTER_CALL="$n"
  done
  for n in $(seq 1 "$total_module_calls"); do
    kill_at "before module call $n" TESVAR_KILL_AT_MODULE_CALL="$n"
  done

  if [ "$case_name" = replacing ]; then
    # The rollback's module calls: old_a, old_b loaded again, then big_a,
    # big_b, big_c removed: killed before the 4th, big.tar.gz is left 2 of 3.
    kill_after_install rollback "before module call 4" TESVAR_KILL_AT_MODULE_CALL=4 partial_packages "big.tar.gz(2 of 3)"
    # The commit's lkpctl calls: status (for leftovers of a killed lkpctl),
    # status, install big, status, uninstall old.
    kill_after_install commit "after lkpctl call 5" KILL_AFTER_CALL=5 installed "big.tar.gz"
    power_cut_in_commit rollback
    power_cut_in_commit other
  fi
}

for shell in dash busybox; do
  use_shell "$shell"
  points=0 left_partial=0 refused=0 reinstalled=0 by_client=0 by_module=0
  run_case fresh
  run_case replacing
  echo "mender_kill [$shell]: $points kill points, $left_partial left a package partially loaded; after the kill the same install was refused $refused times" \
    "and succeeded whole $reinstalled times; recovered by mender rollback $by_client times, by RollbackPending $by_module times"
  [ "$points" -ge 20 ] || fail "only $points kill points"
  checks=$((checks + 1))
done
reset_all
finish mender_kill
