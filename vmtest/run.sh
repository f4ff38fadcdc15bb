#!/usr/bin/env bash
# The real kernel tier, for one architecture: builds our kernel side (kmod/)
# against the guest kernel's build tree, packs an initramfs with busybox, the
# modules, test packages, libtesvar.so, lkpctl and the guest programs, boots
# it under qemu (TCG) once per entry of the boot list (at the end) and reads the
# guest's verdict from the serial console.
#
#   vmtest/run.sh [--arch x86_64|ppc] --build-dir BUILD [--host-build HOST]
#                 [--work-dir DIR] [--timeout SECONDS]
#
# x86_64 (the default): Debian's amd64 kernel; modules against the installed
#   linux-headers-amd64, the image from the matching linux-image package.
# ppc: 32-bit PowerPC, qemu's ppce500 machine with an e500mc CPU; the kernel
#   and a static busybox are built from Debian's sources once and cached
#   (vmtest/ppc/build-kernel.sh, vmtest/ppc/build-busybox.sh).
#
# BUILD is a CMake build tree for the guest's architecture holding
# src/libtesvar.so.1, tools/lkpctl and vmtest/lkp_guest_test and
# vmtest/lkp_guest_target. HOST is a native build tree whose tools/lkpctl packs
# the test packages and reads them on this machine (default: BUILD, which must
# then be native). No module is ever inserted on this machine: insertion
# happens inside the guest only.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
arch=x86_64 build='' host_build='' work='' limit=600
usage="usage: $0 [--arch x86_64|ppc] --build-dir BUILD [--host-build HOST] [--work-dir DIR] [--timeout SECONDS]"
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --host-build) host_build=$2; shift 2 ;;
    --work-dir) work=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
case "$arch" in x86_64 | ppc) ;; *) echo "$0: unknown architecture '$arch'" >&2; exit 2 ;; esac
[ -n "$build" ] || { echo "$0: --build-dir is required" >&2; exit 2; }
build=$(cd "$build" && pwd)
host_build=$(cd "${host_build:-$build}" && pwd)
work=${work:-$build/vmtest-work}
mkdir -p "$work"
work=$(cd "$work" && pwd)

say() { echo "realkernel($arch): $*"; }
fail() { echo "realkernel($arch): FAIL: $*" >&2; exit 1; }

guest_programs=(lkp_guest_test lkp_guest_target)
for tool in "$build/src/libtesvar.so.1" "$build/tools/lkpctl" "$host_build/tools/lkpctl"; do
  [ -e "$tool" ] || fail "missing $tool (build the tesvar, lkpctl and guest program targets)"
done
for program in "${guest_programs[@]}"; do
  [ -e "$build/vmtest/$program" ] || fail "missing $build/vmtest/$program"
done

# What differs between the architectures; each sets release (the guest
# kernel's), kdir (its build tree for modules), image, busybox, the qemu
# command, the module make's arguments, the binutils prefix, where the target's shared libraries
# are found and where they go in the guest.
setup_x86_64() {
  # The release comes from the headers package's dependency, so modules and
  # kernel image always match.
  release=$(dpkg-query -W -f='${Depends}' linux-headers-amd64 2>/dev/null |
    sed -nE 's/.*linux-headers-([^ ,]+).*/\1/p')
  [ -n "$release" ] || fail "linux-headers-amd64 is not installed"
  kdir=/usr/src/linux-headers-$release
  image=$work/vmlinuz-$release
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
  busybox=/bin/busybox
  qemu=(qemu-system-x86_64 -accel tcg -cpu max)
  kmake=()
  libsearch=(/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu)
  sysroot=
  guest_libdir=/lib/x86_64-linux-gnu
  cross=
  elf_machine='Advanced Micro Devices X86-64'
  elf_data=little
}

setup_ppc() {
  local cache
  cache=$("$src/vmtest/ppc/build-kernel.sh") || fail "no PowerPC kernel"
  release=$(cat "$cache/kernel.release")
  kdir=$cache/build
  image=$cache/vmlinux
  busybox=$("$src/vmtest/ppc/build-busybox.sh") || fail "no PowerPC busybox"
  qemu=(qemu-system-ppc -M ppce500 -cpu e500mc)
  kmake=(ARCH=powerpc CROSS_COMPILE=powerpc-linux-gnu-)
  sysroot=/usr/powerpc-linux-gnu
  libsearch=("$sysroot/lib")
  guest_libdir=/lib
  cross=powerpc-linux-gnu-
  elf_machine=PowerPC
  elf_data=big
}

# Builds kmod/ (its rooms) in a copy, then gathers every module into
# $work/kmod, where the packages and the initramfs take them by name.
build_modules() {
  local kbuild=$work/kmod-build
  rm -rf "$kbuild" "$work/kmod" && mkdir -p "$kbuild" "$work/kmod"
  cp -r "$src"/kmod/. "$kbuild"/
  make -s -C "$kdir" "${kmake[@]}" M="$kbuild" -j2 modules >"$work/kmod.log" 2>&1 ||
    { cat "$work/kmod.log" >&2; fail "module build failed"; }
  find "$kbuild" -name '*.ko' -exec cp {} "$work/kmod"/ \;
}

pack() { # package-file module...
  local out=$1; shift
  "$host_build/tools/lkpctl" pack -o "$out" --version 1.0 --date 2026-01-01 \
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

# The module images as this machine reads them: built for the guest's
# machine and byte order, and lkpctl's check and info (the host's build)
# agree with binutils on what their .modinfo declares.
check_module_images() {
  local ko=$work/kmod/lkp_cmdline.ko pkg=$1/opt/lkp/pkg/cmdline.tar.gz header declared shown
  header=$(readelf -h "$ko")
  grep -q "Data:.*$elf_data endian" <<<"$header" || fail "$ko is not $elf_data-endian: $header"
  grep -q "Machine:.*$elf_machine" <<<"$header" || fail "$ko is not for $elf_machine: $header"
  "${cross}objcopy" -O binary --only-section=.modinfo "$ko" "$work/modinfo"
  declared=$(tr '\0' '\n' <"$work/modinfo" | sed -n 's/^vermagic=//p')
  [ "${declared%% *}" = "$release" ] || fail "$ko declares vermagic '$declared', not release $release"
  shown=$("$host_build/tools/lkpctl" info "$pkg" | sed -n 's/^ *vermagic: //p')
  [ "$shown" = "$declared" ] || fail "lkpctl info shows vermagic '$shown', the module declares '$declared'"
  "$host_build/tools/lkpctl" check --kernel-release "$release" "$pkg" >"$work/check.log" 2>&1 ||
    { cat "$work/check.log" >&2; fail "lkpctl check refuses $pkg for release $release"; }
  if "$host_build/tools/lkpctl" check --kernel-release "$release-other" "$pkg" >"$work/check.log" 2>&1; then
    fail "lkpctl check accepts $pkg for release $release-other"
  fi
  say "module images: $elf_data-endian $elf_machine, vermagic '$declared'"
}

# Copies an ELF file's shared libraries, found in the target's library
# directories (or next to libtesvar.so.1), and its interpreter into the root.
copy_libraries() {
  local root=$1 elf=$2 lib dir found interp
  interp=$(readelf -l "$elf" | sed -nE 's/.*Requesting program interpreter: (.*)\]/\1/p')
  if [ -n "$interp" ] && [ ! -e "$root$interp" ]; then
    mkdir -p "$root$(dirname "$interp")"
    cp -L "$sysroot$interp" "$root$interp"
  fi
  for lib in $(readelf -d "$elf" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p'); do
    [ -e "$root$guest_libdir/$lib" ] && continue
    found=
    for dir in "$build/src" "${libsearch[@]}"; do
      [ -e "$dir/$lib" ] && { found=$dir/$lib; break; }
    done
    [ -n "$found" ] || fail "$elf needs $lib, found in none of: $build/src ${libsearch[*]}"
    cp -L "$found" "$root$guest_libdir/$lib"
    copy_libraries "$root" "$found"
  done
}

build_initramfs() {
  local root=$work/root ko=$work/kmod applet program
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,opt/lkp/bin,opt/lkp/ko} "$root$guest_libdir" \
    "$root/lib/modules/$release/mts"
  cp "$busybox" "$root/bin/busybox"
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
  cp "$build/tools/lkpctl" "$root/opt/lkp/bin/"
  copy_libraries "$root" "$build/tools/lkpctl"
  for program in "${guest_programs[@]}"; do
    cp "$build/vmtest/$program" "$root/opt/lkp/bin/"
    copy_libraries "$root" "$build/vmtest/$program"
  done
  build_packages "$root"
  check_module_images "$root"
  cp "$src/vmtest/guest_init.sh" "$root/init"
  chmod 755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
}

# Boots the guest to run one suite on some vCPUs, with more kernel command
# line words for the guest's init (vmtest/guest_init.sh); its console is the
# verdict: at least one LKPVM-VERDICT: PASS and no failure line.
boot() { # suite vcpus words
  local suite=$1 vcpus=$2 words=$3 status=0 console rounds=1 count bound
  # The time limit is per round: the boot's largest repeat count times it.
  for count in $(grep -oE 'lkpvm\.repeat[a-z_]*=[0-9]+' <<<"$words" | cut -d= -f2); do
    [ "$count" -gt "$rounds" ] && rounds=$count
  done
  bound=$((limit * rounds))
  console=$work/console-$(echo "$suite $vcpus $words" | sed 's/[^a-z0-9]/-/g; s/-*$//').log
  timeout -k 5 "$bound" "${qemu[@]}" -smp "$vcpus" -m 512 \
    -nographic -no-reboot -kernel "$image" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1 lkpvm.suite=$suite $words" </dev/null >"$console" 2>&1 ||
    status=$?
  tr -d '\r' <"$console" >"$console.txt"
  # The first line may follow the firmware's escape sequences: no anchor.
  grep -oE 'LKPVM-(CASE|XFAIL|FAIL|EXIT|MEASURE|REPEAT|VERDICT).*' "$console.txt" || true
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    tail -n 40 "$console.txt" >&2
    fail "the guest did not finish within ${bound}s"
  fi
  if ! grep -q 'LKPVM-VERDICT: PASS' "$console.txt" ||
    grep -qE 'LKPVM-(FAIL|VERDICT: FAIL)' "$console.txt"; then
    echo "---- guest console (last 80 lines) ----" >&2
    tail -n 80 "$console.txt" >&2
    fail "the guest's tests failed (full console: $console.txt)"
  fi
}

start=$(date +%s)
"setup_$arch"
say "kernel release $release"
build_modules
build_initramfs
say "initramfs $(du -h "$work/initrd.gz" | cut -f1)"
# ---- the boots: suite, vCPU count and the guest init's words, one boot per
# line; every architecture runs all of them. The transition suite has a boot
# of its own so that its sleeping thread stalls no other case.
# lkpvm.repeat=N repeats each scenario of the operators' and the transition
# suite N times, lkpvm.repeat_long=M the operators' two long ones (boot
# through the store, the update module) M times; lkpvm.busy=N starts N
# processes spinning beside the suite; lkpvm.kills=1 adds, once, lkpctl
# killed half-way and repaired (on one vCPU and on two busy ones, where the
# kills fall at the most different moments). The counts fit CI's budget (a round
# of the operators' suite on two vCPUs takes about 90 s on either
# architecture; docs/realkernel.md); LKPVM_REPEAT=N gives every repeated
# scenario of every boot N runs instead, for a soak by hand.
repeat() { echo "${LKPVM_REPEAT:-$1}"; }
boots=(
  "main 1"
  "transitions 2 lkpvm.repeat=$(repeat 3)"
  "operators 1 lkpvm.repeat=$(repeat 1) lkpvm.kills=1"
  "operators 2 lkpvm.repeat=$(repeat 2) lkpvm.repeat_long=$(repeat 2)"
  "operators 2 lkpvm.repeat=$(repeat 1) lkpvm.busy=2 lkpvm.kills=1"
)
# ---- end of the boots
# LKPVM_BOOTS (an extended regular expression) keeps only the matching
# entries, e.g. LKPVM_BOOTS='^(transitions|operators 2 .*repeat_long)'.
for entry in "${boots[@]}"; do
  if [ -n "${LKPVM_BOOTS:-}" ] && ! grep -qE "$LKPVM_BOOTS" <<<"$entry"; then
    continue
  fi
  read -r suite vcpus words <<<"$entry"
  say "booting: suite $suite, $vcpus vCPU(s) $words"
  began=$(date +%s)
  boot "$suite" "$vcpus" "$words"
  say "boot passed in $(($(date +%s) - began)) s"
done
say "PASS in $(($(date +%s) - start)) s"
