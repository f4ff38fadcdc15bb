#!/usr/bin/env bash
# The man page documents every command and global option --help lists: each
# has its own tagged paragraph, whose tag (the line after ".TP") starts with
# the command's name or names the option.
#   man_page_covers_help.sh LKPCTL MAN_PAGE
set -euo pipefail
lkpctl=$1
man=$2
help=$("$lkpctl" --help)
# The tag lines: the line after each ".TP".
tags=$(awk 'tag { print; tag = 0 } /^\.TP$/ { tag = 1 }' "$man")
status=0
commands=$(awk '/^Commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }' <<<"$help")
[ -n "$commands" ] || { echo "no commands found in lkpctl --help" >&2; exit 1; }
for command in $commands; do
  if ! grep -Eq "^\\.BI? \"?$command( |\"|\$)" <<<"$tags"; then
    echo "lkpctl.1: no entry for command '$command'" >&2
    status=1
  fi
done
options=$(awk '/^Options/ { on = 1; next } on && /^$/ { exit } on { print }' <<<"$help" |
  grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,')
for option in $options; do
  escaped=${option//-/\\\\-}
  if ! grep -Eq "^\\.BR? .*$escaped" <<<"$tags"; then
    echo "lkpctl.1: no entry for option '$option'" >&2
    status=1
  fi
done
exit $status
