#!/usr/bin/env bash
# The real kernel tier: builds our kernel side (kmod/) against the installed
# linux-headers-amd64, takes the matching kernel image from Debian's archive,
# packs an initramfs with busybox, the modules, test packages, libtesvar.so,
# lkpctl and the guest program, boots it under qemu (TCG, one vCPU) and reads
# the guest's verdict from the serial console; then boots it again with two
# vCPUs for the transition suite (a kernel thread holding a patch's
# transition up), kept apart so that its sleeping thread stalls no other case.
#
#   vmtest/run.sh --build-dir BUILD [--work-dir DIR] [--timeout SECONDS]
#
# BUILD is a CMake build tree holding src/libtesvar.so.1, tools/lkpctl and
# vmtest/lkp_guest_test. Needs linux-headers-amd64, qemu-system-x86,
# busybox-static, cpio, make and gcc (vmtest/README.md). No module is ever
# inserted on this machine: insertion happens inside the guest only.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build= work= limit=600
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=$2; shift 2 ;;
    --work-dir) work=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    *) echo "usage: $0 --build-dir BUILD [--work-dir DIR] [--timeout SECONDS]" >&2; exit 2 ;;
  esac
done
[ -n "$build" ] || { echo "$0: --build-dir is required" >&2; exit 2; }
build=$(cd "$build" && pwd)
work=${work:-$build/vmtest-work}
mkdir -p "$work"
work=$(cd "$work" && pwd)

say() { echo "realkernel: $*"; }
fail() { echo "realkernel: FAIL: $*" >&2; exit 1; }

for tool in "$build/src/libtesvar.so.1" "$build/tools/lkpctl" "$build/vmtest/lkp_guest_test"; do
  [ -e "$tool" ] || fail "missing $tool (build the tesvar, lkpctl and lkp_guest_test targets)"
done

# The release comes from the headers package's dependency, so modules and
# kernel image always match.
release=$(dpkg-query -W -f='${Depends}' linux-headers-amd64 2>/dev/null |
  sed -nE 's/.*linux-headers-([^ ,]+).*/\1/p')
[ -n "$release" ] || fail "linux-headers-amd64 is not installed"
kdir=/usr/src/linux-headers-$release
say "kernel release $release"

kernel_image() {
  local image=$work/vmlinuz-$release
  if [ ! -s "$image" ]; then
    local dl=$work/download
    rm -rf "$dl" && mkdir -p "$dl"
    (cd "$dl" && apt-get download -q "linux-image-$release" >/dev/null 2>&1) ||
      fail "apt-get download linux-image-$release failed (run apt-get update?)"
    dpkg-deb --fsys-tarfile "$dl"/linux-image-"$release"_*.deb |
      tar -xO "./boot/vmlinuz-$release" >"$image.part"
    mv "$image.part" "$image"
    rm -rf "$dl"
  fi
  echo "$image"
}

build_modules() {
  local kbuild=$work/kmod
  rm -rf "$kbuild" && mkdir -p "$kbuild"
  cp "$src"/kmod/Kbuild "$src"/kmod/*.c "$src"/kmod/*.h "$kbuild"/
  make -s -C "$kdir" M="$kbuild" -j2 modules >"$work/kmod.log" 2>&1 ||
    { cat "$work/kmod.log" >&2; fail "module build failed"; }
}

pack() { # package-file module...
  local out=$1; shift
  "$build/tools/lkpctl" pack -o "$out" --version 1.0 --date 2026-01-01 \
    --description "real kernel tier" "$@" >/dev/null
}

# A package lkpctl pack would refuse (its module declares another name), laid
# out by hand: the library itself must refuse it.
pack_by_hand() { # package-file module
  local out=$1 module=$2 name dir
  name=$(basename "$module" .ko)
  dir=$(mktemp -d)
  mkdir -p "$dir/unit/$name" "$dir/pkg/${out%.tar.gz}"
  cp "$module" "$dir/unit/$name/"
  tar -czf "$dir/pkg/${out%.tar.gz}/$name.tar.gz" -C "$dir/unit" "$name"
  printf 'versions: 1.0\ndescription: real kernel tier\ndate: 2026-01-01\nUnits List: 1\n%s.tar.gz\n' \
    "$name" >"$dir/pkg/${out%.tar.gz}/content"
  tar -czf "$out" -C "$dir/pkg" "${out%.tar.gz}"
  rm -rf "$dir"
}

build_packages() {
  local ko=$work/kmod pkg=$1/opt/lkp/pkg stage=$work/stage
  rm -rf "$stage" && mkdir -p "$stage" "$pkg"
  cp "$ko/lkp_plain.ko" "$stage/lkp_renamed.ko"
  (
    cd "$pkg"
    pack cmdline.tar.gz "$ko/lkp_cmdline.ko"
    pack target.tar.gz "$ko/lkp_target_fix.ko"
    pack story.tar.gz "$ko/lkp_target_fix.ko"
    pack nopkg.tar.gz "$ko/lkp_plain.ko" "$ko/lkp_nopkg.ko"
    pack dup.tar.gz "$ko/lkp_version.ko" "$ko/lkp_target.ko"
    pack dash.tar.gz "$ko/lkp-dash-fix.ko"
    pack sleeper.tar.gz "$ko/lkp_sleeper_fix.ko"
    # The operators' suite: two packages of three patches and a cumulative one.
    pack triple_a.tar.gz "$ko/lkp_slot1_fix.ko" "$ko/lkp_slot2_fix.ko" "$ko/lkp_slot3_fix.ko"
    pack triple_b.tar.gz "$ko/lkp_slot4_fix.ko" "$ko/lkp_slot5_fix.ko" "$ko/lkp_slot6_fix.ko"
    pack cumulative.tar.gz "$ko/lkp_slots_all.ko"
    pack_by_hand renamed.tar.gz "$stage/lkp_renamed.ko"
  )
}

# Copies an ELF file's shared libraries (and its interpreter) into the root.
copy_libraries() {
  local root=$1 elf=$2 lib
  for lib in $(ldd "$elf" | awk '/=> \// {print $3} /^[ \t]*\/.*ld-linux/ {print $1}'); do
    case "$lib" in
      */ld-linux*) mkdir -p "$root$(dirname "$lib")"; cp -L "$lib" "$root$lib" ;;
      *) cp -L "$lib" "$root/lib/x86_64-linux-gnu/" ;;
    esac
  done
}

build_initramfs() {
  local root=$work/root ko=$work/kmod applet
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/x86_64-linux-gnu,opt/lkp/bin,opt/lkp/ko} \
    "$root/lib/modules/$release/mts"
  cp /bin/busybox "$root/bin/busybox"
  # /bin/tar and /bin/rm are busybox's, as on a small device: the library's
  # command lines must work with them.
  for applet in sh mount insmod poweroff cat rm mkdir echo ls dmesg gzip tar; do
    ln -s busybox "$root/bin/$applet"
  done
  cp "$ko/tesvar.ko" "$root/lib/modules/$release/mts/tesvar.ko"
  cp "$ko/livepatch_state.ko" "$ko/lkp_target.ko" "$ko/lkp_sleeper.ko" "$root/opt/lkp/ko/"
  # The operators' suite: the slots' target module, the update module where
  # the update client looks for it.
  cp "$ko/lkp_slots.ko" "$root/opt/lkp/ko/"
  mkdir -p "$root/usr/share/mender/modules/v3"
  cp "$src/mender/tesvar-livepatch" "$root/usr/share/mender/modules/v3/"
  cp "$build/src/libtesvar.so.1" "$root/lib/x86_64-linux-gnu/"
  cp "$build/tools/lkpctl" "$build/vmtest/lkp_guest_test" "$root/opt/lkp/bin/"
  copy_libraries "$root" "$build/tools/lkpctl"
  copy_libraries "$root" "$build/vmtest/lkp_guest_test"
  build_packages "$root"
  cp "$src/vmtest/guest_init.sh" "$root/init"
  chmod 755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
}

# Boots the guest to run one suite on some vCPUs, with more kernel command
# line words for the guest's init (vmtest/guest_init.sh); its console is the
# verdict.
boot() { # image suite vcpus words
  local image=$1 suite=$2 vcpus=$3 words=$4 status=0 console
  console=$work/console-$(echo "$suite $vcpus $words" | sed 's/[^a-z0-9]/-/g; s/-*$//').log
  timeout -k 5 "$limit" qemu-system-x86_64 -accel tcg -cpu max -smp "$vcpus" -m 512 \
    -nographic -no-reboot -kernel "$image" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1 lkpvm.suite=$suite $words" </dev/null >"$console" 2>&1 ||
    status=$?
  tr -d '\r' <"$console" >"$console.txt"
  # The first line may follow the firmware's escape sequences: no anchor.
  grep -oE 'LKPVM-(CASE|XFAIL|FAIL|MEASURE|VERDICT).*' "$console.txt" || true
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    tail -n 40 "$console.txt" >&2
    fail "the guest did not finish within ${limit}s"
  fi
  if ! grep -q 'LKPVM-VERDICT: PASS' "$console.txt"; then
    echo "---- guest console (last 80 lines) ----" >&2
    tail -n 80 "$console.txt" >&2
    fail "the guest's tests failed (full console: $console.txt)"
  fi
}

start=$(date +%s)
image=$(kernel_image)
build_modules
build_initramfs
say "initramfs $(du -h "$work/initrd.gz" | cut -f1)"
# ---- the boots: suite, vCPU count and the guest init's words (the
# operators' suite: lkpvm.repeat=N repeats of each scenario, LKPVM_REPEAT
# of them, 1 by default, for a round on two vCPUs takes about two minutes;
# lkpvm.busy=N processes spinning beside it), one boot per line. The
# transition suite has a boot of its own so that its sleeping thread stalls
# no other case.
repeat=${LKPVM_REPEAT:-1}
boots=(
  "main 1"
  "transitions 2"
  "operators 1 lkpvm.repeat=$repeat"
  "operators 2 lkpvm.repeat=$repeat"
  "operators 2 lkpvm.repeat=$repeat lkpvm.busy=2"
)
# ---- end of the boots
for entry in "${boots[@]}"; do
  read -r suite vcpus words <<<"$entry"
  say "booting: suite $suite, $vcpus vCPU(s) $words"
  boot "$image" "$suite" "$vcpus" "$words"
done
say "PASS in $(($(date +%s) - start)) s"
