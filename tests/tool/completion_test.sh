#!/usr/bin/env bash
# The bash completion of lkpctl, driven as bash drives it (COMP_WORDS,
# COMP_CWORD, then the function), on the simulated kernel side so that the
# loaded packages' names come from a real lkpctl list.
#   completion_test.sh LKPCTL LKPSIM COMPLETION_FILE
set -euo pipefail
lkpctl=$1
lkpsim=$2
completion=$3

if [ "${LKPCTL_COMPLETION_INSIDE:-}" != 1 ]; then
  export LKPCTL_COMPLETION_INSIDE=1
  exec "$lkpsim" run --log /dev/null -- /bin/bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p tool
ln -s "$lkpctl" tool/lkpctl
export PATH="$work/tool:$PATH"
# shellcheck source=/dev/null
source "$completion"

failures=0
# expect "WORDS..." "EXPECTED": completes the last word of WORDS.
expect() {
  local line=$1 want=$2
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  # Bash runs completions without errexit.
  set +e
  _lkpctl
  set -e
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$line': got '$got', want '$want'" >&2
    failures=$((failures + 1))
  else
    echo "ok: '$line' -> '$got'"
  fi
}

"$lkpsim" mkmod -o fix_a.ko --name fix_a --target ext4
"$lkpsim" mkmod -o fix_b.ko --name fix_b --target nfs
lkpctl pack -o hot_a.tar.gz fix_a.ko >/dev/null
lkpctl pack -o hot_b.tar.gz fix_b.ko >/dev/null
lkpctl load hot_a.tar.gz >/dev/null
mkdir -p root/var/lib/tesvar/"$(uname -r)"
printf 'inst_1.tar.gz\n# a comment\ninst_2.tar.gz\n' >root/var/lib/tesvar/"$(uname -r)"/order

expect "lkpctl de" "deactivate"
expect "lkpctl s" "state status strerror"
expect "lkpctl help un" "uninstall"
expect "lkpctl --no" "--no-wait"
expect "lkpctl load --w" "--wait --wait="
expect "lkpctl pack --a" "--any-name"
expect "lkpctl load hot_" "hot_a.tar.gz hot_b.tar.gz"
expect "lkpctl pack fix" "fix_a.ko fix_b.ko"
expect "lkpctl activate " "hot_a.tar.gz"
expect "lkpctl uninstall --root root inst" "inst_1.tar.gz inst_2.tar.gz"
expect "lkpctl install --root root --before inst_2" "inst_2.tar.gz"
expect "lkpctl pack --description " ""

lkpctl remove hot_a.tar.gz >/dev/null
expect "lkpctl remove " ""

if [ "$failures" -ne 0 ]; then
  echo "$failures completion(s) wrong" >&2
  exit 1
fi
echo "all completions right"
