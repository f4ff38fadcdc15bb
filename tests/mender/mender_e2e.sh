#!/usr/bin/env bash
# End-to-end tests of the update module tesvar-livepatch with the real Mender
# client in standalone mode, on the simulated kernel side.
#   mender_e2e.sh SOURCE_DIR BUILD_DIR
# Runs itself again inside `lkpsim run` (a private mount namespace whose
# module calls are simulated). There, /etc/mender, the client's module folder
# and /var/lib (the package store and the module's pending record) are
# private tmpfs mounts, and the client's data directory is a temporary one:
# nothing on the host changes. Every scenario runs once with the module under
# sh and once under busybox sh.
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)

if [ "${MENDER_E2E_INSIDE:-}" != 1 ]; then
  for tool in mender mender-artifact openssl busybox; do
    command -v "$tool" >/dev/null || { echo "mender_e2e: $tool is not installed" >&2; exit 1; }
  done
  MENDER_E2E_INSIDE=1 exec "$build_dir/sim/lkpsim" run --manager insertable -- \
    /bin/bash "$source_dir/tests/mender/mender_e2e.sh" "$source_dir" "$build_dir"
fi

export PATH="$build_dir/tools:$build_dir/sim:$PATH"
modules=/usr/share/mender/modules/v3
work=$(mktemp -d /tmp/mender-e2e.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

mount -t tmpfs mender-etc /etc/mender
mount -t tmpfs mender-modules "$modules"
mount -t tmpfs var-lib /var/lib
echo 'artifact_name=factory' >/etc/mender/artifact_info

fail() {
  echo "FAIL [$scenario, $shell_name]: $*" >&2
  failures=$((failures + 1))
}
expect_eq() { # WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}

# What the kernel and the store hold: "name=state ..." and "name ...".
loaded() {
  lkpctl --json list 2>/dev/null | grep -o '"name":"[^"]*\.tar\.gz","state":"[a-z]*"' |
    sed 's/"name":"\([^"]*\)","state":"\([a-z]*\)"/\1=\2/' | tr '\n' ' ' | sed 's/ $//'
}
# status exits 3 when something needs an operator: its store is the answer all the same.
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

cd "$work"
lkpsim mkmod -o fix_a.ko --name fix_a --target ext4 >/dev/null
lkpsim mkmod -o fix_b.ko --name fix_b --target nfs >/dev/null
lkpsim mkmod -o fix_c.ko --name fix_c --target ext4 >/dev/null
lkpctl pack -o hotfix_01.tar.gz --date 2020-01-01 fix_a.ko >/dev/null
lkpctl pack -o hotfix_02.tar.gz --date 2020-01-01 fix_b.ko >/dev/null
lkpctl pack -o hotfix_03.tar.gz --date 2020-01-01 fix_c.ko >/dev/null
echo 'not a package' >broken.tar.gz
make_artifact() { "$source_dir/scripts/make-livepatch-artifact.sh" "$@" >/dev/null; }
make_artifact -o one.mender -n fix-one -t board-a -t board-b hotfix_01.tar.gz
make_artifact -o two.mender -n fix-two -t board-a hotfix_02.tar.gz hotfix_01.tar.gz
make_artifact -o broken.mender -n fix-broken -t board-a hotfix_01.tar.gz broken.tar.gz
make_artifact -o replacing.mender -n fix-replacing -t board-a -r hotfix_01.tar.gz hotfix_03.tar.gz
openssl ecparam -genkey -name prime256v1 -noout -out signing.pem 2>/dev/null
openssl ec -in signing.pem -pubout -out verify.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out other.pem 2>/dev/null # PKCS#8
make_artifact -o signed.mender -n fix-signed -t board-a -k signing.pem hotfix_01.tar.gz
make_artifact -o other-type.mender -n fix-signed -t board-c -k signing.pem hotfix_01.tar.gz
make_artifact -o other-key.mender -n fix-signed -t board-a -k other.pem hotfix_01.tar.gz
make_artifact -o signed-03.mender -n fix-signed -t board-a -k signing.pem hotfix_03.tar.gz
# Tampered: the signed artifact with another artifact's payload (same file
# name, other bytes) in place of its own.
mkdir tamper tamper-src
tar -xmf signed.mender -C tamper
tar -xmf signed-03.mender -C tamper-src
mkdir tamper-src/p && tar -xmzf tamper-src/data/0000.tar.gz -C tamper-src/p
mv tamper-src/p/hotfix_03.tar.gz tamper-src/p/hotfix_01.tar.gz
tar -czf tamper/data/0000.tar.gz -C tamper-src/p hotfix_01.tar.gz
tar -cf tampered.mender -C tamper version manifest manifest.sig header.tar.gz data/0000.tar.gz

run_scenarios() {
  scenario="1 install+commit"
  reset_all
  client install "$work/two.mender" || fail "install exited $? ($(cat "$work/client.log"))"
  expect_eq "kernel after install" "$(loaded)" "hotfix_02.tar.gz=enabled hotfix_01.tar.gz=enabled"
  expect_eq "store after install" "$(installed)" ""
  expect_eq "pending after install" "$(pending)" pending
  client commit || fail "commit exited $?"
  expect_eq "kernel after commit" "$(loaded)" "hotfix_02.tar.gz=enabled hotfix_01.tar.gz=enabled"
  expect_eq "store after commit (boot order)" "$(installed)" "hotfix_02.tar.gz hotfix_01.tar.gz"
  expect_eq "pending after commit" "$(pending)" none

  scenario="2 broken second package"
  reset_all
  lkpctl load "$work/hotfix_02.tar.gz" >/dev/null && lkpctl activate hotfix_02.tar.gz >/dev/null
  lkpctl install "$work/hotfix_02.tar.gz" >/dev/null
  local status=0
  client install "$work/broken.mender" || status=$?
  expect_eq "install exit status" "$status" 1
  grep -q 'tesvar-livepatch: ArtifactInstall: broken.tar.gz: load failed: -257: .*broken.tar.gz: package: ' "$work/client.log" ||
    fail "the deployment log lacks the package, step and explanation: $(cat "$work/client.log")"
  expect_eq "kernel as before" "$(loaded)" "hotfix_02.tar.gz=enabled"
  expect_eq "store as before" "$(installed)" "hotfix_02.tar.gz"
  expect_eq "pending after the failure" "$(pending)" none

  scenario="3 install then rollback"
  reset_all
  client install "$work/two.mender" || fail "install exited $?"
  client rollback || fail "rollback exited $?"
  expect_eq "kernel after rollback" "$(loaded)" ""
  expect_eq "store after rollback" "$(installed)" ""
  expect_eq "pending after rollback" "$(pending)" none

  scenario="3b rollback leaves what was there before"
  reset_all
  lkpctl load "$work/hotfix_02.tar.gz" >/dev/null && lkpctl activate hotfix_02.tar.gz >/dev/null
  client install "$work/two.mender" || fail "install exited $?"
  expect_eq "kernel after install" "$(loaded)" "hotfix_02.tar.gz=enabled hotfix_01.tar.gz=enabled"
  client rollback || fail "rollback exited $?"
  expect_eq "kernel after rollback" "$(loaded)" "hotfix_02.tar.gz=enabled"

  scenario="3c commit fails"
  reset_all
  local store_dir
  store_dir=$(store)
  mkdir -p "$store_dir" && mount -t tmpfs -o ro read-only-store "$store_dir"
  status=0
  client install "$work/two.mender" || fail "install exited $?"
  client commit || status=$?
  umount "$store_dir"
  expect_eq "commit exit status" "$status" 1
  grep -q 'tesvar-livepatch: ArtifactCommit: hotfix_02.tar.gz: install failed: ' "$work/client.log" ||
    fail "no failed install in the deployment log: $(cat "$work/client.log")"
  expect_eq "kernel after the failed commit" "$(loaded)" ""
  expect_eq "store after the failed commit" "$(installed)" ""
  expect_eq "pending after the failed commit" "$(pending)" none

  scenario="4 replaces"
  reset_all
  { client install "$work/one.mender" && client commit; } || fail "first artifact: $(cat "$work/client.log")"
  client install "$work/replacing.mender" || fail "install exited $? ($(cat "$work/client.log"))"
  expect_eq "kernel: old out, new in" "$(loaded)" "hotfix_03.tar.gz=enabled"
  client rollback || fail "rollback exited $? ($(cat "$work/client.log"))"
  expect_eq "kernel after rollback: old back, active" "$(loaded)" "hotfix_01.tar.gz=enabled"
  expect_eq "store after rollback" "$(installed)" "hotfix_01.tar.gz"
  { client install "$work/replacing.mender" && client commit; } || fail "install+commit: $(cat "$work/client.log")"
  expect_eq "kernel after commit" "$(loaded)" "hotfix_03.tar.gz=enabled"
  expect_eq "store after commit: old uninstalled" "$(installed)" "hotfix_03.tar.gz"

  scenario="5 signatures"
  reset_all
  cp "$work/verify.pem" /etc/mender/artifact-verify-key.pem
  echo '{"ArtifactVerifyKey": "/etc/mender/artifact-verify-key.pem"}' >/etc/mender/mender.conf
  # A missing key file would silently turn verification off.
  [ -s /etc/mender/artifact-verify-key.pem ] || fail "the verify key file is missing"
  # Each refused by the client, for its own reason, before the module acts.
  local refused reason
  for refused in 'unsigned:one.mender:expecting signed artifact, but no signature file found' \
    'other-key:other-key.mender:invalid signature: signer: verification failed' \
    'tampered:tampered.mender:hotfix_01.tar.gz: .*: invalid checksum'; do
    reason=${refused#*:*:}
    refused=${refused%:"$reason"}
    status=0
    client install "$work/${refused#*:}" || status=$?
    expect_eq "${refused%%:*} artifact: exit status" "$status" 1
    grep -q "level=error.*$reason" "$work/client.log" ||
      fail "${refused%%:*} artifact: not refused for its reason ($reason): $(cat "$work/client.log")"
    ! grep -q 'tesvar-livepatch' "$work/client.log" ||
      fail "${refused%%:*} artifact: the module ran: $(cat "$work/client.log")"
    expect_eq "${refused%%:*} artifact: kernel" "$(loaded)" ""
    expect_eq "${refused%%:*} artifact: pending" "$(pending)" none
  done
  status=0
  client install "$work/other-type.mender" || status=$?
  expect_eq "artifact for another device type: exit status" "$status" 1
  expect_eq "artifact for another device type: kernel" "$(loaded)" ""
  client install "$work/signed.mender" || fail "signed artifact refused: $(cat "$work/client.log")"
  expect_eq "signed artifact: kernel" "$(loaded)" "hotfix_01.tar.gz=enabled"
  client commit || fail "commit exited $?"
  expect_eq "signed artifact: store" "$(installed)" "hotfix_01.tar.gz"

  scenario="6 second install while pending"
  reset_all
  client install "$work/one.mender" || fail "install exited $?"
  status=0
  client install "$work/replacing.mender" || status=$?
  expect_eq "second install exit status" "$status" 1
  grep -q "tesvar-livepatch: ArtifactInstall: refused: artifact 'fix-one' is installed but not committed" "$work/client.log" ||
    fail "no refusal in the deployment log: $(cat "$work/client.log")"
  expect_eq "kernel: the first install untouched" "$(loaded)" "hotfix_01.tar.gz=enabled"
  expect_eq "pending: the first install's" "$(pending)" pending
  # A reboot (another boot id, the kernel's patches gone) makes the record
  # stale: the next install drops it and goes ahead.
  echo 00000000-0000-0000-0000-000000000000 >/var/lib/tesvar-livepatch/pending/boot_id
  lkpctl deactivate hotfix_01.tar.gz >/dev/null && lkpctl remove hotfix_01.tar.gz >/dev/null
  client install "$work/replacing.mender" || fail "install after a reboot exited $? ($(cat "$work/client.log"))"
  grep -q "tesvar-livepatch: ArtifactInstall: dropping the record of uncommitted artifact 'fix-one' from before the last reboot" "$work/client.log" ||
    fail "the stale record was not reported: $(cat "$work/client.log")"
  expect_eq "kernel after the install after a reboot" "$(loaded)" "hotfix_03.tar.gz=enabled"
  client rollback || fail "rollback exited $?"
  expect_eq "kernel after its rollback" "$(loaded)" ""
  # Back to the refused state: the client has forgotten the first install;
  # the operator's way out.
  client install "$work/one.mender" || fail "install exited $?"
  if client install "$work/replacing.mender"; then fail "the second install was not refused"; fi
  "$modules/tesvar-livepatch" RollbackPending || fail "RollbackPending exited $?"
  expect_eq "kernel after RollbackPending" "$(loaded)" ""
  expect_eq "pending after RollbackPending" "$(pending)" none

  scenario="7 stalled transition"
  reset_all
  # A simulated task that never switches: the first activation stalls,
  # lkpctl undoes it and explains; the client's rollback removes the package.
  sleeper=$((sleeper + 1))
  lkpsim kernel task "$sleeper" lkp_sleeper
  lkpsim kernel scene until-released
  status=0
  TESVAR_LIVEPATCH_WAIT=0.4 client install "$work/two.mender" || status=$?
  lkpsim kernel scene instant
  lkpsim kernel release "$sleeper"
  expect_eq "install exit status" "$status" 1
  grep -q "tesvar-livepatch: ArtifactInstall: hotfix_02.tar.gz: activate failed: -110: Connection timed out (still in transition after [0-9.]* s: fix_b; task $sleeper/$sleeper (lkp_sleeper) has not switched (patch_state 0);   (kernel stack not readable); activate undone: disabled)" "$work/client.log" ||
    fail "the deployment log lacks lkpctl's explanation of the stall: $(cat "$work/client.log")"
  expect_eq "kernel after the stalled install" "$(loaded)" ""
  expect_eq "store after the stalled install" "$(installed)" ""
  expect_eq "pending after the stalled install" "$(pending)" none
}

# The module as cmake --install installs it, under each shell.
sleeper=4100000 # simulated task ids, one per run of the scenarios
for shell_name in sh busybox; do
  if [ "$shell_name" = sh ]; then
    install -m 0755 "$source_dir/mender/tesvar-livepatch" "$modules/tesvar-livepatch"
  else
    { echo '#!/bin/busybox sh'; tail -n +2 "$source_dir/mender/tesvar-livepatch"; } >"$modules/tesvar-livepatch"
    chmod 0755 "$modules/tesvar-livepatch"
  fi
  run_scenarios
  reset_all
done

if [ "$failures" -ne 0 ]; then
  echo "mender_e2e: $failures failed checks" >&2
  exit 1
fi
echo "mender_e2e: the six scenarios pass under sh and busybox sh"
