#!/usr/bin/env bash
# End-to-end tests of the update module tesvar-livepatch with the real Mender
# client in standalone mode, on the simulated kernel side (common.sh says
# how). Every scenario runs once with the module under dash and once under
# busybox sh.
#   mender_e2e.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
# shellcheck source=tests/mender/common.sh
. "$source_dir/tests/mender/common.sh"
enter_simulator "$source_dir/tests/mender/mender_e2e.sh"

mkmod fix_a ext4
mkmod fix_b nfs
mkmod fix_c ext4
mkmod big_a ext4
mkmod big_b nfs
mkmod big_c ext4
mkmod fix_t nosuchmodule
lkpsim mkmod -o old_a.ko --name old_a --target ext4 --vermagic "0.0.1-other SMP mod_unload" >/dev/null
lkpsim mkmod -o any_a.ko --name any_a --target ext4 >/dev/null
lkpctl pack -o hotfix_01.tar.gz --date 2020-01-01 fix_a.ko >/dev/null
lkpctl pack -o hotfix_02.tar.gz --date 2020-01-01 fix_b.ko >/dev/null
lkpctl pack -o hotfix_03.tar.gz --date 2020-01-01 fix_c.ko >/dev/null
lkpctl pack -o big.tar.gz --date 2020-01-01 big_a.ko big_b.ko big_c.ko >/dev/null
lkpctl pack -o other_release.tar.gz --date 2020-01-01 old_a.ko >/dev/null
lkpctl pack -o any_release.tar.gz --date 2020-01-01 any_a.ko >/dev/null
# Passes every offline check, but its target module is not loaded: the
# kernel refuses it.
lkpctl pack -o broken.tar.gz --date 2020-01-01 fix_t.ko >/dev/null
make_artifact -o one.mender -n fix-one -t board-a -t board-b hotfix_01.tar.gz
make_artifact -o two.mender -n fix-two -t board-a hotfix_02.tar.gz hotfix_01.tar.gz
make_artifact -o broken.mender -n fix-broken -t board-a hotfix_01.tar.gz broken.tar.gz
make_artifact -o replacing.mender -n fix-replacing -t board-a -r hotfix_01.tar.gz hotfix_03.tar.gz
make_artifact -o big.mender -n fix-big -t board-a big.tar.gz
make_artifact -o other-release.mender -n fix-other -t board-a other_release.tar.gz
make_artifact -o any-release.mender -n fix-any -t board-a -a any_release.tar.gz
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
  expect_log "the deployment log names the package, step and result" \
    'tesvar-livepatch: ArtifactInstall: broken.tar.gz: load failed: -265: ' "$work/client.log"
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

  # On the upstream kernel model (a patch enabled by its insertion, a
  # disabled patch freed) the replaced package comes back on rollback only
  # from the copy the module kept; the model stays upstream after the loop.
  for model in default upstream; do
    scenario="4 replaces, $model kernel model"
    reset_all
    lkpsim kernel model "$model"
    { client install "$work/one.mender" && client commit; } || fail "first artifact: $(cat "$work/client.log")"
    client install "$work/replacing.mender" || fail "install exited $? ($(cat "$work/client.log"))"
    expect_eq "kernel: old out, new in" "$(loaded)" "hotfix_03.tar.gz=enabled"
    client rollback || fail "rollback exited $? ($(cat "$work/client.log"))"
    expect_eq "kernel after rollback: old back, active" "$(loaded)" "hotfix_01.tar.gz=enabled"
    expect_eq "store after rollback" "$(installed)" "hotfix_01.tar.gz"
    { client install "$work/replacing.mender" && client commit; } || fail "install+commit: $(cat "$work/client.log")"
    expect_eq "kernel after commit" "$(loaded)" "hotfix_03.tar.gz=enabled"
    expect_eq "store after commit: old uninstalled" "$(installed)" "hotfix_03.tar.gz"
  done
  # Not in the store: nothing to bring it back from. The rollback says so,
  # fails and keeps its journal.
  reset_all
  lkpctl load "$work/hotfix_01.tar.gz" >/dev/null
  client install "$work/replacing.mender" || fail "install exited $? ($(cat "$work/client.log"))"
  status=0
  client rollback || status=$?
  expect_eq "rollback without a copy: exit status" "$status" 1
  expect_log "rollback without a copy: reason" \
    "tesvar-livepatch: ArtifactRollback: hotfix_01.tar.gz: undoing 'deactivate' failed: -262: .*the kernel freed the disabled patches of hotfix_01.tar.gz" "$work/client.log"
  expect_eq "rollback without a copy: kernel" "$(loaded)" "hotfix_01.tar.gz=disabled"
  expect_eq "rollback without a copy: the journal stays" "$(pending)" pending
  if [ "${LKPSIM_KERNEL:-}" = upstream ]; then lkpsim kernel model upstream; else lkpsim kernel model default; fi

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
  "$module" RollbackPending || fail "RollbackPending exited $?"
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

  scenario="8 artifact for another kernel release"
  reset_all
  status=0
  client install "$work/other-release.mender" || status=$?
  expect_eq "install exit status" "$status" 1
  expect_log "the deployment log gives the reason" \
    "tesvar-livepatch: ArtifactInstall: refused: the artifact is built for kernel release '0.0.1-other', this kernel is $release" "$work/client.log"
  expect_eq "kernel untouched" "$(loaded)" ""
  expect_eq "pending after the refusal" "$(pending)" none
  # The meta-data says this release, but a module says another.
  mkdir -p lying/files lying/header lying/tmp
  cp other_release.tar.gz lying/files/
  printf '{"packages":["other_release.tar.gz"],"kernel_release":"%s"}' "$release" >lying/header/meta-data
  status=0
  "$module" ArtifactInstall "$work/lying" 2>"$work/module.log" || status=$?
  expect_eq "meta-data lying about the release: exit status" "$status" 1
  expect_log "meta-data lying about the release: reason" \
    "refused: other_release.tar.gz: a module is built for '0.0.1-other' (vermagic), this kernel is $release" "$work/module.log"
  expect_eq "meta-data lying about the release: kernel" "$(loaded)" ""
  rm -rf lying

  scenario="9 artifact for any kernel release"
  reset_all
  client install "$work/any-release.mender" || fail "install exited $? ($(cat "$work/client.log"))"
  expect_eq "kernel after install" "$(loaded)" "any_release.tar.gz=enabled"
  client rollback || fail "rollback exited $?"

  scenario="10 partially loaded package is loaded again"
  reset_all
  # What a killed load leaves: two of the three patches, no pending record.
  load_cut_short "$work/big.tar.gz" 3
  expect_eq "set-up: a partial package" "$(partial_packages)" "big.tar.gz(2 of 3)"
  client install "$work/big.mender" || fail "install exited $? ($(cat "$work/client.log"))"
  expect_log "the deployment log says it was partial" \
    'tesvar-livepatch: ArtifactInstall: big.tar.gz: partially loaded (2 of 3 patches): removing it and loading it again' "$work/client.log"
  expect_eq "kernel after install" "$(loaded)" "big.tar.gz=enabled"
  expect_eq "patches after install" "$(lkpctl --json list | grep -o '"name":"big_[abc]","state":"enabled"' | wc -l)" 3
  expect_eq "nothing partial" "$(partial_packages)" ""
  client rollback || fail "rollback exited $?"
  expect_eq "kernel after rollback" "$(loaded)" ""
  expect_eq "nothing partial after rollback" "$(partial_packages)" ""

  scenario="10b what a killed lkpctl left in the kernel is repaired first"
  reset_all
  # A load killed between a module's insertion and its record left big_a.
  lkpctl insmod "$work/big_a.ko" >/dev/null
  expect_eq "set-up: the files disagree" "$(lkpctl state big.tar.gz 2>/dev/null)" "invalid 9"
  client install "$work/big.mender" || fail "install exited $? ($(cat "$work/client.log"))"
  expect_log "the deployment log says what it repaired" \
    'tesvar-livepatch: ArtifactInstall: lkpctl repair removed what a killed load or removal had left in the kernel' "$work/client.log"
  expect_eq "kernel after install" "$(loaded)" "big.tar.gz=enabled"
  # A removal killed between a module's removal and its "rm" line left a
  # record without its module.
  lkpsim kernel register 1 gone.tar.gz gone_1
  client rollback || fail "rollback exited $? ($(cat "$work/client.log"))"
  expect_log "the rollback's log says what it repaired" \
    'tesvar-livepatch: ArtifactRollback: lkpctl repair removed what a killed load or removal had left in the kernel' "$work/client.log"
  expect_eq "kernel after rollback" "$(loaded)" ""
  expect_eq "records after rollback" "$(lkpsim kernel records)" ""
  expect_eq "pending after rollback" "$(pending)" none

  scenario="11 inventory"
  reset_all
  # Every state: enabled and installed, disabled and not installed, partial,
  # installed but not loaded.
  lkpctl install "$work/hotfix_01.tar.gz" >/dev/null
  lkpctl install "$work/hotfix_03.tar.gz" >/dev/null
  lkpctl load "$work/hotfix_01.tar.gz" >/dev/null && lkpctl activate hotfix_01.tar.gz >/dev/null
  lkpctl load "$work/hotfix_02.tar.gz" >/dev/null
  load_cut_short "$work/big.tar.gz" 2
  "$inventory" >"$work/inventory" || fail "inventory exited $?"
  expect_eq "inventory: every line key=value" "$(grep -cv '^[a-z_]*=[^=]*$' "$work/inventory")" 0
  expect_eq "inventory" "$(cat "$work/inventory")" "kernel_release=$release
tesvar_manager=present
tesvar_package=hotfix_01.tar.gz enabled installed
tesvar_package=hotfix_02.tar.gz disabled not-installed
tesvar_package=big.tar.gz partial not-installed
tesvar_package=hotfix_03.tar.gz not-loaded installed"
}

inventory=$work/mender-inventory-tesvar

# The module as cmake --install installs it, under each shell.
sleeper=4100000 # simulated task ids, one per run of the scenarios
for shell in dash busybox; do
  use_shell "$shell"
  if [ "$shell" = dash ]; then
    { echo "#!$(command -v dash)"; tail -n +2 "$source_dir/mender/mender-inventory-tesvar"; } >"$inventory"
  else
    { echo "#!$(command -v busybox) sh"; tail -n +2 "$source_dir/mender/mender-inventory-tesvar"; } >"$inventory"
  fi
  chmod 0755 "$inventory"
  run_scenarios
  reset_all
done
finish mender_e2e
