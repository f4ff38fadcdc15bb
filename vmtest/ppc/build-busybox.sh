#!/usr/bin/env bash
# Cross-builds a static 32-bit PowerPC busybox for the guest's initramfs from
# Debian's busybox source package (Debian 12 has no PowerPC binary package),
# with the package's own static configuration, once: the result is cached
# outside the checkout under a key made of the source version and this
# script's hash, and its path is printed.
#
#   vmtest/ppc/build-busybox.sh [--cache ROOT]     (default /var/cache/tesvar-kernel,
#                                                   or $TESVAR_KERNEL_CACHE)
#
# The source comes through apt with a private state (its own source list with
# deb-src lines made from the machine's deb lines, its own lists and cache),
# so the machine's apt set-up is left as it is. The work happens in
# ROOT/.work-busybox-KEY and the binary is renamed into place when done.
# Needs gcc-powerpc-linux-gnu, libc6-dev-powerpc-cross, dpkg-dev, make.
set -euo pipefail

root=${TESVAR_KERNEL_CACHE:-/var/cache/tesvar-kernel}
while [ $# -gt 0 ]; do
  case "$1" in
    --cache) root=$2; shift 2 ;;
    *) echo "usage: $0 [--cache ROOT]" >&2; exit 2 ;;
  esac
done

fail() { echo "build-busybox: FAIL: $*" >&2; exit 1; }
say() { echo "build-busybox: $*" >&2; }

mkdir -p "$root"
apt_state=$root/.apt-src
# deb-src lines for every deb line the machine has, in both source formats.
make_sources() {
  local parts=$apt_state/sources.list.d file
  rm -rf "$parts" && mkdir -p "$parts" "$apt_state/lists/partial" "$apt_state/cache/archives/partial"
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$file" >"$parts/$(basename "$file")"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$file" ] || continue
    sed -nE 's/^deb([[:space:]])/deb-src\1/p' "$file" >"$parts/$(basename "$file")"
  done
}
apt_private=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_state/sources.list.d"
  -o "Dir::State::Lists=$apt_state/lists" -o "Dir::Cache=$apt_state/cache" -q)

exec 9>"$root/.lock-busybox"
flock 9

make_sources
# Lists fetched by an earlier run serve when the archive cannot be reached.
if ! apt-get "${apt_private[@]}" update >"$root/.apt-src.log" 2>&1; then
  compgen -G "$apt_state/lists/*Sources*" >/dev/null ||
    { cat "$root/.apt-src.log" >&2; fail "apt-get update of the private source lists failed"; }
  say "apt-get update failed; using the source lists of an earlier run"
fi
version=$(apt-cache "${apt_private[@]}" showsrc busybox 2>/dev/null |
  sed -nE 's/^Version: //p' | sort -V | tail -n 1)
[ -n "$version" ] || fail "no busybox source package in the machine's archives"
# make cannot work under a path with a ':' (the version's epoch).
key=$(echo "$version" | tr -c 'A-Za-z0-9.+~\n-' _)-$(sha256sum "$0" | cut -c1-12)
cache=$root/busybox-$key
if [ -x "$cache/busybox" ]; then
  echo "$cache/busybox"
  exit 0
fi

start=$(date +%s)
work=$root/.work-busybox-$key
rm -rf "$work" && mkdir -p "$work"
say "fetching busybox $version's source"
(cd "$work" && apt-get "${apt_private[@]}" source "busybox=$version" >"$work/source.log" 2>&1) ||
  { cat "$work/source.log" >&2; fail "apt-get source busybox=$version failed"; }
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'busybox-*' | head -n 1)
[ -f "$tree/debian/config/pkg/static" ] || fail "no debian/config/pkg/static in the source"

say "building a static PowerPC busybox"
sed -E 's/^CONFIG_CROSS_COMPILER_PREFIX=.*/CONFIG_CROSS_COMPILER_PREFIX="powerpc-linux-gnu-"/' \
  "$tree/debian/config/pkg/static" >"$tree/.config"
grep -q '^CONFIG_CROSS_COMPILER_PREFIX="powerpc-linux-gnu-"' "$tree/.config" ||
  echo 'CONFIG_CROSS_COMPILER_PREFIX="powerpc-linux-gnu-"' >>"$tree/.config"
(
  cd "$tree"
  yes '' | make oldconfig >"$work/config.log" 2>&1
  make -j2 busybox >"$work/build.log" 2>&1
) || { tail -n 60 "$work/build.log" >&2; fail "busybox build failed (log: $work/build.log)"; }
file "$tree/busybox" | grep -q 'PowerPC.*statically linked' ||
  fail "$(file "$tree/busybox")"

mkdir -p "$work/out"
cp "$tree/busybox" "$work/out/busybox"
rm -rf "$cache"
mv "$work/out" "$cache"
rm -rf "$work"
say "built $cache in $(($(date +%s) - start)) s"
echo "$cache/busybox"
