#!/usr/bin/env bash
# Hostile input to the update module tesvar-livepatch and to the artifact
# script, on the simulated kernel side (common.sh says how): package names
# from the payload, the meta-data and the journal that are paths, options,
# patterns or shell code; a payload that applies nothing; a journal or record
# file that is a FIFO, huge or long. The module runs as the client runs it
# (STATE WORK_DIR), under dash and busybox sh.
#   mender_hostile.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
# shellcheck source=tests/mender/common.sh
. "$source_dir/tests/mender/common.sh"
enter_simulator "$source_dir/tests/mender/mender_hostile.sh"

mkmod fix_a ext4
mkmod fix_e nfs
lkpctl pack -o hotfix_01.tar.gz --date 2020-01-01 fix_a.ko >/dev/null
lkpctl pack -o evil.tar.gz --date 2020-01-01 fix_e.ko >/dev/null
mkdir -p outside
cp evil.tar.gz outside/evil.tar.gz
pending_dir=/var/lib/tesvar-livepatch/pending

# A counting lkpctl: each call adds a line to $work/calls.
cat >"$work/lkpctl-count" <<WRAPPER
#!/bin/sh
echo call >>"$work/calls"
exec "$build_dir/tools/lkpctl" "\$@"
WRAPPER
chmod 0755 "$work/lkpctl-count"

# work_dir META FILE...: a client work directory whose payload holds the
# given files (NAME=SOURCE copies SOURCE as NAME), with META as meta-data
# ("" for none). Prints its path.
work_dir() {
  local dir meta=$1 file
  shift
  dir=$(mktemp -d "$work/tree.XXXXXX")
  mkdir "$dir/files" "$dir/header" "$dir/tmp"
  echo fix-hostile >"$dir/header/artifact_name"
  [ -z "$meta" ] || printf '%s' "$meta" >"$dir/header/meta-data"
  for file in "$@"; do
    cp "$work/${file#*=}" "$dir/files/${file%%=*}"
  done
  echo "$dir"
}
meta() { printf '{"packages":[%s],"kernel_release":"%s"}' "$1" "$release"; }

# run_module STATE DIR: the module with a hang guard (a FIFO must never
# block it); its exit status in $status, its stderr in $work/module.log.
run_module() {
  status=0
  timeout 120 "$module" "$@" >"$work/module.out" 2>"$work/module.log" || status=$?
  [ "$status" != 124 ] || fail "$1 hung"
}

# refused_install WHAT PATTERN META FILE...: ArtifactInstall fails with a
# line matching PATTERN, changes nothing, runs no injected command.
refused_install() {
  local what=$1 pattern=$2 dir
  shift 2
  dir=$(work_dir "$@")
  run_module ArtifactInstall "$dir"
  expect_eq "$what: exit status" "$status" 1
  expect_log "$what: reason" "$pattern" "$work/module.log"
  expect_eq "$what: kernel" "$(loaded)" ""
  expect_eq "$what: pending" "$(pending)" none
  expect_eq "$what: injected command ran" "$(ls "$work"/pwned* 2>/dev/null)" ""
  run_module ArtifactRollback "$dir"
  expect_eq "$what: rollback exit status" "$status" 0
  expect_eq "$what: kernel after rollback" "$(loaded)" ""
  rm -rf "$dir"
}

# A pending record with the given journal text, as an install leaves it.
pending_with_journal() {
  mkdir -p "$pending_dir/restore"
  printf '%s\n' "$1" >"$pending_dir/journal"
  echo 1.1 >"$pending_dir/id"
}

run_module_cases() {
  scenario="meta-data names a file outside the payload"
  reset_all
  refused_install "$scenario" "refused: the meta-data's packages holds '..?..?outside?evil.tar.gz', which is not a package name" \
    "$(meta '"hotfix_01.tar.gz","../../outside/evil.tar.gz"')" hotfix_01.tar.gz=hotfix_01.tar.gz

  scenario="replaces names a path"
  reset_all
  refused_install "$scenario" "refused: the meta-data's replaces holds '..?outside?evil.tar.gz'" \
    "{\"packages\":[\"hotfix_01.tar.gz\"],\"replaces\":[\"../outside/evil.tar.gz\"],\"kernel_release\":\"$release\"}" \
    hotfix_01.tar.gz=hotfix_01.tar.gz

  scenario="journal names a file outside the store"
  for action in removed uninstalled remove uninstall load; do
    reset_all
    pending_with_journal "$action ../../../../..$work/outside/evil.tar.gz"
    run_module RollbackPending
    expect_eq "$action: exit status" "$status" 1
    expect_log "$action: reason" "refused journal line '$action?..?..?..?..?..?" "$work/module.log"
    expect_eq "$action: kernel" "$(loaded)" ""
    expect_eq "$action: store" "$(installed)" ""
    expect_eq "$action: the journal stays" "$(pending)" pending
  done

  scenario="kept copy that is a link to a file outside the record"
  for action in remove uninstall; do
    reset_all
    pending_with_journal "$action hotfix_01.tar.gz"
    ln -s "$work/outside/evil.tar.gz" "$pending_dir/restore/hotfix_01.tar.gz"
    run_module RollbackPending
    expect_eq "$action: exit status" "$status" 1
    expect_log "$action: reason" "hotfix_01.tar.gz: no copy to \(load\|install\) it again from" "$work/module.log"
    expect_eq "$action: kernel" "$(loaded)" ""
    expect_eq "$action: store" "$(installed)" ""
    expect_eq "$action: the journal stays" "$(pending)" pending
  done

  scenario="journal line with shell code"
  reset_all
  pending_with_journal "load \$(touch $work/pwned).tar.gz
load \`touch $work/pwned2\`.tar.gz
load hotfix_01.tar.gz;touch${IFS:0:1}$work/pwned3"
  run_module RollbackPending
  expect_eq "exit status" "$status" 1
  expect_eq "injected command ran" "$(ls "$work"/pwned* 2>/dev/null)" ""

  scenario="name starting with a dash"
  reset_all
  refused_install "$scenario" "refused: the payload holds '-x.tar.gz', which is not a package name" \
    "$(meta '"-x.tar.gz"')" -x.tar.gz=hotfix_01.tar.gz
  reset_all
  pending_with_journal "load -v.tar.gz"
  run_module RollbackPending
  expect_eq "journal: exit status" "$status" 1
  expect_eq "journal: no grep or lkpctl usage text" "$(grep -ci 'usage' "$work/module.log" || true)" 0

  scenario="payload named like a pattern"
  reset_all
  refused_install "$scenario" "refused: the payload holds '?.tar.gz'" "$(meta '"*.tar.gz"')" '*.tar.gz=hotfix_01.tar.gz'
  refused_install "$scenario, no meta-data" "refused: the payload holds '?.tar.gz'" "" '*.tar.gz=hotfix_01.tar.gz'

  scenario="payload that applies nothing"
  reset_all
  refused_install "dot-named, no meta-data" "refused: the payload holds '.tar.gz'" "" .tar.gz=hotfix_01.tar.gz
  refused_install "hidden, no meta-data" "refused: the payload holds '.hidden.tar.gz'" "" .hidden.tar.gz=hotfix_01.tar.gz
  refused_install "empty" "refused: the payload holds no package" "$(meta '')"
  refused_install "not a package name" "refused: the payload holds 'notes.txt'" "" notes.txt=hotfix_01.tar.gz
  refused_install "named twice" "refused: the meta-data names a package twice" \
    "$(meta '"hotfix_01.tar.gz","hotfix_01.tar.gz"')" hotfix_01.tar.gz=hotfix_01.tar.gz
  refused_install "shell code in a name" "not a package name" \
    "$(meta "\"\$(touch $work/pwned).tar.gz\"")" hotfix_01.tar.gz=hotfix_01.tar.gz
  refused_install "no release" "does not say which kernel release" '{"packages":["hotfix_01.tar.gz"]}' \
    hotfix_01.tar.gz=hotfix_01.tar.gz
  refused_install "shell code in the release" "is built for kernel release '??touch" \
    "{\"packages\":[\"hotfix_01.tar.gz\"],\"kernel_release\":\"\$(touch $work/pwned)\"}" hotfix_01.tar.gz=hotfix_01.tar.gz

  scenario="journal that is a FIFO"
  reset_all
  mkdir -p "$pending_dir"
  mkfifo "$pending_dir/journal"
  run_module RollbackPending
  expect_eq "exit status" "$status" 1
  expect_log "reason" "refused: $pending_dir/journal is not a regular file" "$work/module.log"
  rm -rf "$pending_dir"

  scenario="record files that are FIFOs"
  reset_all
  mkdir -p "$pending_dir"
  mkfifo "$pending_dir/id" "$pending_dir/artifact" "$pending_dir/boot_id"
  dir=$(work_dir "$(meta '"hotfix_01.tar.gz"')" hotfix_01.tar.gz=hotfix_01.tar.gz)
  mkfifo "$dir/tmp/tesvar-livepatch.id"
  run_module ArtifactRollback "$dir"
  expect_eq "rollback of a refused install: exit status" "$status" 0
  run_module ArtifactInstall "$dir"
  expect_eq "install while a record is pending: exit status" "$status" 1
  expect_log "install while a record is pending: reason" "refused: artifact '' is installed but not committed" "$work/module.log"
  rm -rf "$pending_dir" "$dir"

  scenario="journal of 2,000 lines"
  reset_all
  lkpctl load "$work/hotfix_01.tar.gz" >/dev/null && lkpctl activate hotfix_01.tar.gz >/dev/null
  mkdir -p "$pending_dir/restore"
  for ((i = 0; i < 1000; i++)); do printf 'load hotfix_01.tar.gz\nactivate hotfix_01.tar.gz\n'; done >"$pending_dir/journal"
  rm -f "$work/calls"
  status=0
  TESVAR_LKPCTL=$work/lkpctl-count "$module" RollbackPending 2>"$work/module.log" || status=$?
  expect_eq "exit status" "$status" 0
  expect_eq "kernel" "$(loaded)" ""
  expect_eq "pending" "$(pending)" none
  # Each distinct line is undone once: a handful of lkpctl calls, not
  # thousands.
  calls=$(wc -l <"$work/calls")
  [ "$calls" -le 20 ] || fail "$calls lkpctl calls for a journal of 2 distinct lines"
  checks=$((checks + 1))

  scenario="read-only record directory"
  reset_all
  mkdir -p "${pending_dir%/*}" && mount -t tmpfs -o ro read-only-record "${pending_dir%/*}"
  dir=$(work_dir "$(meta '"hotfix_01.tar.gz"')" hotfix_01.tar.gz=hotfix_01.tar.gz)
  run_module ArtifactInstall "$dir"
  umount "${pending_dir%/*}"
  expect_eq "exit status" "$status" 1
  expect_log "reason" "cannot make $pending_dir (read-only or full?)" "$work/module.log"
  expect_eq "kernel" "$(loaded)" ""

  scenario="full record directory"
  reset_all
  # Room for the directories, not for the files' contents.
  mkdir -p "${pending_dir%/*}" && mount -t tmpfs -o size=4k full-record "${pending_dir%/*}"
  head -c 4096 /dev/zero >"${pending_dir%/*}/filler" 2>/dev/null || true
  run_module ArtifactInstall "$dir"
  expect_eq "exit status" "$status" 1
  expect_log "reason" "cannot write the pending record in $pending_dir (full?)" "$work/module.log"
  expect_eq "kernel" "$(loaded)" ""
  expect_eq "no record left to block the next install" "$(pending)" none
  rm -f "${pending_dir%/*}/filler"
  mount -o remount,size=1m "${pending_dir%/*}"
  run_module ArtifactInstall "$dir"
  expect_eq "once there is room: exit status" "$status" 0
  expect_eq "once there is room: kernel" "$(loaded)" "hotfix_01.tar.gz=enabled"
  run_module ArtifactRollback "$dir"
  expect_eq "once there is room: rollback" "$status" 0
  umount "${pending_dir%/*}"
  rm -rf "$dir"

  scenario="journal over the bound"
  reset_all
  mkdir -p "$pending_dir/restore"
  for ((i = 0; i < 4000; i++)); do printf 'load hotfix_%04d.tar.gz\n' "$i"; done >"$pending_dir/journal"
  run_module RollbackPending
  expect_eq "exit status" "$status" 1
  expect_log "reason" "refused: $pending_dir/journal is longer than 65536 bytes" "$work/module.log"
  expect_eq "the journal stays" "$(pending)" pending
}

# The artifact script: quoting, names the update engine cannot carry, -r,
# the kernel release, -h.
run_script_cases() {
  local script=$source_dir/scripts/make-livepatch-artifact.sh out
  scenario="artifact script"
  status=0
  "$script" -h >"$work/script.out" 2>&1 || status=$?
  expect_eq "-h: exit status" "$status" 0
  expect_log "-h: usage" "^usage: make-livepatch-artifact.sh -o OUT.mender" "$work/script.out"
  # Directories and output paths with blanks, quotes, backslashes and a
  # leading dash are fine.
  mkdir -p "$work/-odd dir 'q' \"d\" back\\slash"
  cp hotfix_01.tar.gz "$work/-odd dir 'q' \"d\" back\\slash/"
  out="$work/-out 'q' \"d\" b\\s.mender"
  "$script" -o "$out" -n "fix one's" -t "board a" -r old_01.tar.gz \
    "$work/-odd dir 'q' \"d\" back\\slash/hotfix_01.tar.gz" >"$work/script.out" 2>&1 ||
    fail "odd paths: $(cat "$work/script.out")"
  mender-artifact read "$out" >"$work/read.out" 2>&1 || fail "odd paths: no artifact: $(cat "$work/read.out")"
  expect_log "odd paths: artifact name" "Name: fix one's" "$work/read.out"
  expect_log "odd paths: device type" "board a" "$work/read.out"
  expect_log "odd paths: meta-data" "\"packages\": \\[" "$work/read.out"
  expect_log "odd paths: the release" "\"kernel_release\": \"$release\"" "$work/read.out"
  expect_log "odd paths: replaces" "\"old_01.tar.gz\"" "$work/read.out"
  # Package names the update engine cannot carry are refused, with nothing
  # written.
  local bad
  # shellcheck disable=SC2016 # the names are literal
  for bad in "hot fix.tar.gz" "hot'fix.tar.gz" 'hot"fix.tar.gz' 'hot\fix.tar.gz' '-hotfix.tar.gz' \
    'hot$fix.tar.gz' 'hot;fix.tar.gz' '.hotfix.tar.gz' 'hotfix.tgz'; do
    cp hotfix_01.tar.gz "$work/$bad"
    rm -f "$work/bad.mender"
    status=0
    "$script" -o "$work/bad.mender" -n bad -t board-a "$work/$bad" >"$work/script.out" 2>&1 || status=$?
    expect_eq "package '$bad': exit status" "$status" 1
    expect_log "package '$bad': reason" "a package name holds only letters, digits" "$work/script.out"
    expect_eq "package '$bad': nothing written" "$(ls "$work/bad.mender" 2>/dev/null)" ""
    rm -f "$work/$bad"
    status=0
    "$script" -o "$work/bad.mender" -n bad -t board-a -r "$bad" hotfix_01.tar.gz >"$work/script.out" 2>&1 || status=$?
    expect_eq "-r '$bad': exit status" "$status" 1
    expect_log "-r '$bad': reason" "not a package name" "$work/script.out"
  done
  status=0
  "$script" -o "$work/bad.mender" -n bad -t board-a -r hotfix_01 hotfix_01.tar.gz >"$work/script.out" 2>&1 || status=$?
  expect_eq "-r without .tar.gz: exit status" "$status" 1
  status=0
  "$script" -o "$work/bad.mender" -n bad -t board-a -r hotfix_01.tar.gz hotfix_01.tar.gz >"$work/script.out" 2>&1 || status=$?
  expect_eq "-r of its own package: exit status" "$status" 1
  expect_log "-r of its own package: reason" "is one of the packages of this artifact" "$work/script.out"
  # Modules without vermagic: refused unless -a.
  lkpsim mkmod -o plain.ko --name plain --target ext4 >/dev/null
  lkpctl pack -o plain.tar.gz --date 2020-01-01 plain.ko >/dev/null
  status=0
  "$script" -o "$work/bad.mender" -n bad -t board-a plain.tar.gz >"$work/script.out" 2>&1 || status=$?
  expect_eq "no vermagic: exit status" "$status" 1
  expect_log "no vermagic: reason" "carries no vermagic, so its kernel release is unknown; -a lets any release install it" "$work/script.out"
  "$script" -o "$work/any.mender" -n any -t board-a -a plain.tar.gz >"$work/script.out" 2>&1 || fail "-a: $(cat "$work/script.out")"
  mender-artifact read "$work/any.mender" >"$work/read.out" 2>&1
  expect_log "-a: meta-data" '"any_kernel_release": true' "$work/read.out"
  status=0
  "$script" -o "$work/bad.mender" -n bad -t board-a -a hotfix_01.tar.gz >"$work/script.out" 2>&1 || status=$?
  expect_eq "-a with vermagic: exit status" "$status" 1
}

for shell in dash busybox; do
  use_shell "$shell"
  run_module_cases
  reset_all
done
shell_name=bash
run_script_cases
finish mender_hostile
