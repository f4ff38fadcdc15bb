#!/usr/bin/env bash
# One package's life, told by lkpctl, then the README's operator story. Runs
# inside `lkpsim run`, where the kernel's files and module calls are the
# simulated kernel side's.
#   lifecycle.sh BUILD_DIR [README]
# The operator story is read from the README's block that follows the line
# "<!-- operator-story -->" and run line by line, so that it runs as shown.
set -euo pipefail
build=$1
readme=${2:-}
export PATH="$build/tools:$build/sim:$PATH"
lkpctl=lkpctl
lkpsim=lkpsim
work=$(mktemp -d /var/tmp/lkp-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

step() {
  echo
  printf '$'
  printf ' %q' "$@"
  echo
  "$@"
}

cd "$work"
step "$lkpsim" mkmod -o fix_a.ko --name fix_a --target ext4
step "$lkpsim" mkmod -o fix_b.ko --name fix_b --target nfs
step "$lkpctl" pack -o hotfix_01.tar.gz --version 1.0 --description "two fixes" --date 2020-01-01 fix_a.ko fix_b.ko
step "$lkpctl" check hotfix_01.tar.gz
step "$lkpctl" load "$work/hotfix_01.tar.gz"
step "$lkpctl" list
step "$lkpctl" activate hotfix_01.tar.gz
step "$lkpctl" state hotfix_01.tar.gz
step "$lkpctl" owner nfs
step "$lkpctl" deactivate hotfix_01.tar.gz
# Its exit status answers too, as systemctl is-active does: 3 for disabled.
step "$lkpctl" state hotfix_01.tar.gz || echo "(exit status $?: disabled)"
step "$lkpctl" remove hotfix_01.tar.gz
step "$lkpctl" list

# The end state, checked: no package may be left registered.
echo
echo "\$ $lkpctl --json list"
left=$("$lkpctl" --json list)
echo "$left"
if [ "$left" != '{"command":"list","result":0,"message":"Success","data":{"packages":[]}}' ]; then
  echo "lifecycle.sh: a package is still registered after its removal" >&2
  exit 1
fi
echo
echo "Lifecycle complete: nothing is left loaded."

[ -n "$readme" ] || exit 0
echo
echo "== The README's operator story"
story=$(awk '/^<!-- operator-story -->$/ { found = 1; next }
             found && /^```/ { if (inside) exit; inside = 1; next }
             inside { print }' "$readme")
if [ -z "$story" ]; then
  echo "lifecycle.sh: no operator story in $readme" >&2
  exit 1
fi
while IFS= read -r line; do
  [ -n "$line" ] || continue
  echo
  echo "\$ $line"
  eval "$line"
done <<<"$story"

# What the story left: its packages still installed in the image and
# loaded. Taken out again, and checked.
echo
echo "== Cleaning up after the story"
for name in $("$lkpctl" --json list | grep -o '"name":"[^"]*\.tar\.gz"' | cut -d'"' -f4); do
  "$lkpctl" deactivate "$name" >/dev/null
  "$lkpctl" remove "$name"
done
left=$("$lkpctl" --json list)
if [ "$left" != '{"command":"list","result":0,"message":"Success","data":{"packages":[]}}' ]; then
  echo "lifecycle.sh: a package is still registered after the story's clean-up" >&2
  exit 1
fi
echo
echo "Operator story complete: nothing is left loaded."
