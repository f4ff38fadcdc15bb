#!/usr/bin/env bash
# Checks every manual page in the tree (*.1 ... *.8 that git knows, and any
# new one not yet added) with mandoc's linter: a warning or an error fails.
#   scripts/lint-man.sh [ROOT]     (default: the checkout this script is in)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
command -v mandoc >/dev/null || { echo "lint-man: mandoc is not installed (Debian package mandoc)" >&2; exit 1; }

pages=()
while IFS= read -r -d '' page; do
  pages+=("$page")
done < <(git ls-files -z --cached --others --exclude-standard -- '*.[1-8]' 2>/dev/null ||
         find . -path './build*' -prune -o -type f -name '*.[1-8]' -print0)
if [ "${#pages[@]}" -eq 0 ]; then
  echo "lint-man: no manual page found under $root" >&2
  exit 1
fi
status=0
for page in "${pages[@]}"; do
  # -W warning: warnings and errors count; style remarks do not.
  if ! out=$(mandoc -T lint -W warning "$page" 2>&1) || [ -n "$out" ]; then
    echo "$out" >&2
    status=1
  fi
done
echo "lint-man: ${#pages[@]} manual page(s) checked: ${pages[*]}"
exit $status
