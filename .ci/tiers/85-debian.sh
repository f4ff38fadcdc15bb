#!/usr/bin/env bash
# Debian packages: builds libtesvar1, libtesvar-dev, lkpctl and tesvar-mender
# with dpkg-buildpackage from a copy of the tree (the packages are written
# next to the tree, so the copy keeps them out of the checkout's parent),
# runs lintian on them (an error fails; the warnings kept are listed in
# debian/README.source), then extracts them into an empty root, adds the
# host's C and C++ runtime and runs inside it: `lkpctl --version`, a C
# program built against the installed header and library (with the flags
# `pkg-config --libs --cflags tesvar` reads from the installed .pc), and the
# library's NEEDED check.
set -euo pipefail

scripts/apt-need.sh debhelper dpkg-dev fakeroot lintian cmake g++ make pkg-config binutils

fail() { echo "85-debian: $*" >&2; exit 1; }
work=$(mktemp -d /var/tmp/tesvar-debian.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The tree as committed plus what is not yet, without build trees.
mkdir "$work/tesvar"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar -cf - --null -T - | tar -xf - -C "$work/tesvar"
(cd "$work/tesvar" && dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1) ||
  { tail -50 "$work/build.log" >&2; fail "dpkg-buildpackage failed"; }
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
debs=()
for package in libtesvar1 libtesvar-dev lkpctl tesvar-mender; do
  deb=$(find "$work" -maxdepth 1 -name "${package}_*_*.deb")
  [ -n "$deb" ] || fail "no $package package was built"
  debs+=("$deb")
done
echo "85-debian: built ${debs[*]##*/}"

# Errors fail; the warnings and notes are shown.
lintian --fail-on error --display-info "$work"/tesvar_*_"$arch".changes ||
  fail "lintian found errors"

# A clean root: the packages' files, the host's runtime libraries that the
# programs need, the loader's cache as the C library's trigger would make it.
root=$work/root
mkdir "$root"
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
[ -x "$root/usr/bin/lkpctl" ] || fail "lkpctl is not in /usr/bin"
[ -f "$root/lib/systemd/system/tesvar.service" ] || fail "no tesvar.service"
grep -qx 'ExecStart=/usr/bin/lkpctl boot' "$root/lib/systemd/system/tesvar.service" ||
  fail "the unit does not run /usr/bin/lkpctl"
grep -qx 'LKPCTL=/usr/bin/lkpctl' "$root/etc/init.d/tesvar" || fail "the init script does not run /usr/bin/lkpctl"
[ -x "$root/usr/share/mender/modules/v3/tesvar-livepatch" ] || fail "no update module"
[ -x "$root/usr/bin/make-livepatch-artifact" ] || fail "no artifact script"
scripts/check-needed.sh "$root/usr/lib/$multiarch/libtesvar.so.1"

# Built against the installed header and library, with the installed .pc.
pc=$root/usr/lib/$multiarch/pkgconfig
libs=$(PKG_CONFIG_LIBDIR=$pc pkg-config --libs tesvar)
read -r libdir library <<<"$libs"
[ "$library" = -ltesvar ] && [ "$(realpath "${libdir#-L}")" = "$(realpath "$root/usr/lib/$multiarch")" ] ||
  fail "pkg-config --libs tesvar: $libs"
echo "85-debian: pkg-config --libs tesvar: $libs"
cflags=$(PKG_CONFIG_LIBDIR=$pc pkg-config --cflags tesvar)
cat >"$work/use_tesvar.c" <<'PROGRAM'
/* Uses the installed library: a result code's message from the function and
   from the exported table must agree. */
#include <stdio.h>
#include <string.h>
#include <tesvar.h>

int main(void) {
    const char *message = navo_lkp_strerror(errtable[1].code);
    if (message == NULL || strcmp(message, errtable[1].message) != 0) {
        puts("navo_lkp_strerror and errtable disagree");
        return 1;
    }
    printf("%d: %s\n", (int)errtable[1].code, message);
    return 0;
}
PROGRAM
mkdir -p "$root/opt"
# shellcheck disable=SC2086 # the flags are words
cc -std=c99 -Wall -Werror $cflags "$work/use_tesvar.c" -o "$root/opt/use_tesvar" $libs

# The host's runtime for the programs: each library the loader resolves,
# copied to the same path in the root.
for program in "$root/usr/bin/lkpctl" "$root/opt/use_tesvar"; do
  LD_LIBRARY_PATH=$root/usr/lib/$multiarch ldd "$program" |
    sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) .*/\1/p' |
    grep -v "^$root/" || true
done | sort -u | while IFS= read -r library; do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done
ldconfig -r "$root"

version=$(chroot "$root" /usr/bin/lkpctl --version) || fail "lkpctl --version failed in the root"
echo "85-debian: $version"
chroot "$root" /opt/use_tesvar || fail "the program built against the packages failed"
echo "85-debian: packages built, lintian clean of errors, installed and used"
