#!/usr/bin/env bash
# Includes run downwards only: every quoted #include of a file in sim/ or
# tools/ must name a file of its own room, of a room below it (the table
# here), or of what all rooms of that tree may see. Prints each include that
# runs the wrong way and fails if there is one.
#   scripts/check-includes.sh [ROOT]   (ROOT: the checkout, default: this one)
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

# room: the rooms below it that it may use. "." is the top of its tree.
declare -A below=(
  [sim/build]=""
  [sim/kernel]="sim/build"
  [sim/client]="sim/kernel sim/build"
  [sim/fs]="sim/kernel sim/build"
  [sim/host]="sim/fs sim/kernel sim/build"
  [sim]="sim/host sim/client sim/fs sim/kernel sim/build"
  [sim/include/lkpsim]=""
  [tools/frame]=""
  [tools/wait]=""
  [tools/pack]="tools/frame"
  [tools/store]="tools/pack tools/frame"
  [tools/commands]="tools/store tools/pack tools/wait tools/frame"
  [tools]="tools/commands tools/store tools/pack tools/wait tools/frame"
)

# The room that holds a file found by its include name, or nothing.
room_of() {
  local tree=$1 name=$2 room
  for room in "${!below[@]}"; do
    if [[ $room == "$tree" || $room == "$tree"/* ]] && [[ -f $room/$name ]]; then
      echo "$room"
      return
    fi
  done
}

# Whether every room of TREE may see NAME: the simulator sees its API
# headers and the owned descriptor of the library; lkpctl sees the library.
shared() {
  local tree=$1 name=$2
  if [[ $tree == sim ]]; then
    [[ $name == lkpsim/* && -f sim/include/$name ]] || [[ $name == sys/owned_fd.h ]]
  else
    [[ -f src/$name || -f include/$name ]]
  fi
}

status=0
while IFS= read -r file; do
  dir=$(dirname "$file")
  if [[ -z ${below[$dir]+set} ]]; then
    echo "$file: in no room (add its folder to scripts/check-includes.sh)"
    status=1
    continue
  fi
  tree=${dir%%/*}
  while IFS= read -r name; do
    [[ -f $dir/$name ]] && continue
    shared "$tree" "$name" && continue
    owner=$(room_of "$tree" "$name")
    if [[ -z $owner ]]; then
      echo "$file: includes \"$name\", which no room it may use holds"
      status=1
    elif [[ " ${below[$dir]} " != *" $owner "* ]]; then
      echo "$file: includes \"$name\" from $owner, which is not below $dir"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find sim tools \( -name "*.cpp" -o -name "*.h" \) | LC_ALL=C sort)
exit $status
