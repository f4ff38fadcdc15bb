#!/usr/bin/env bash
# Builds the 32-bit PowerPC guest kernel of the real kernel tier from Debian's
# linux-source-6.1 with vmtest/ppc/kernel.config on top of allnoconfig, once:
# the result is cached outside the checkout under a key made of the source
# package's version and the fragment's hash, and printed (the cache directory).
#
#   vmtest/ppc/build-kernel.sh [--cache ROOT]      (default /var/cache/tesvar-kernel,
#                                                   or $TESVAR_KERNEL_CACHE)
#
# The cache directory holds vmlinux (qemu loads the ELF), kernel.release and
# build/, the part of the kernel tree that out-of-tree modules are built
# against (make -C DIR/build M=...). The work happens in ROOT/.work-KEY and the
# finished directory is renamed into place, so a killed build leaves no half
# cache; a second run resumes the interrupted make instead of starting over.
# Needs linux-source-6.1, gcc-powerpc-linux-gnu, make, bc, flex, bison.
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
root=${TESVAR_KERNEL_CACHE:-/var/cache/tesvar-kernel}
while [ $# -gt 0 ]; do
  case "$1" in
    --cache) root=$2; shift 2 ;;
    *) echo "usage: $0 [--cache ROOT]" >&2; exit 2 ;;
  esac
done

fail() { echo "build-kernel: FAIL: $*" >&2; exit 1; }
say() { echo "build-kernel: $*" >&2; }

fragment=$src/vmtest/ppc/kernel.config
tarball=/usr/src/linux-source-6.1.tar.xz
version=$(dpkg-query -W -f='${Version}' linux-source-6.1 2>/dev/null) ||
  fail "linux-source-6.1 is not installed"
[ -s "$tarball" ] || fail "missing $tarball"
key=$version-$(sha256sum "$fragment" | cut -c1-12)
cache=$root/$key
mkdir -p "$root"

# One builder per key; a second caller waits and then finds the cache.
exec 9>"$root/.lock-$key"
flock 9
if [ -s "$cache/vmlinux" ]; then
  echo "$cache"
  exit 0
fi

work=$root/.work-$key
tree=$work/linux-source-6.1
kmake=(make -C "$tree" ARCH=powerpc CROSS_COMPILE=powerpc-linux-gnu-)
start=$(date +%s)
mkdir -p "$work"
if [ ! -d "$tree" ]; then
  say "extracting $tarball ($version)"
  rm -rf "$work/extract"
  mkdir -p "$work/extract"
  tar -xJf "$tarball" -C "$work/extract"
  mv "$work/extract/linux-source-6.1" "$tree"
  rmdir "$work/extract"
fi

# allnoconfig drops silently what a dependency does not allow, so the options
# the tier depends on are checked by name.
"${kmake[@]}" -s allnoconfig KCONFIG_ALLCONFIG="$fragment" >"$work/config.log" 2>&1 ||
  { cat "$work/config.log" >&2; fail "allnoconfig failed"; }
for option in PPC_QEMU_E500 SMP MODULES MODULE_UNLOAD KALLSYMS_ALL DYNAMIC_FTRACE_WITH_REGS \
  LIVEPATCH COMPAT_32BIT_TIME BLK_DEV_INITRD UNIX POWER_RESET_GPIO; do
  grep -qx "CONFIG_$option=y" "$tree/.config" ||
    fail "CONFIG_$option is not set in the configured kernel (see $fragment)"
done

say "building vmlinux (make -j2; about 700 CPU-seconds)"
"${kmake[@]}" -j2 vmlinux modules >"$work/build.log" 2>&1 ||
  { tail -n 60 "$work/build.log" >&2; fail "kernel build failed (log: $work/build.log)"; }

# The tree for out-of-tree modules: the makefiles, Kconfig files, scripts and
# headers of the source, the generated headers and tools, .config and
# Module.symvers; objects and their .cmd files are not needed, except the
# register save/restore routines 32-bit PowerPC links into every module.
out=$work/out
rm -rf "$out"
mkdir -p "$out/build"
(
  cd "$tree"
  {
    find . arch/powerpc -maxdepth 1 -name 'Makefile*'
    find include scripts -type f -o -type l
    find arch/powerpc -name Kbuild.platforms -o -name Platform -o -name '*.lds'
    find arch/powerpc -name 'Makefile*' -path '*/powerpc/Makefile*'
    # shellcheck disable=SC2046 # the directories' names have no blanks
    find $(find arch/powerpc -name include -o -name scripts -type d) -type f
    find tools/include -type f 2>/dev/null || true
    echo .config
    echo Module.symvers
  } | grep -vE '/\.[^/]*\.cmd$' | grep -vE '\.o$' | sort -u >"$work/keep"
  echo arch/powerpc/lib/crtsavres.o >>"$work/keep"
  tar -cf - -T "$work/keep" | tar -xf - -C "$out/build"
)
cp "$tree/vmlinux" "$out/vmlinux"
cp "$tree/include/config/kernel.release" "$out/kernel.release"
cp "$fragment" "$out/kernel.config"

# The kept tree must build a live patch module before it becomes the cache.
probe=$work/probe
rm -rf "$probe" && mkdir -p "$probe"
printf '%s\n' '#include <linux/module.h>' '#include <linux/livepatch.h>' \
  'static int __init probe_init(void) { return klp_enable_patch(NULL); }' \
  'module_init(probe_init);' 'MODULE_LICENSE("GPL");' 'MODULE_INFO(livepatch, "Y");' >"$probe/probe.c"
echo 'obj-m := probe.o' >"$probe/Kbuild"
if ! make -C "$out/build" ARCH=powerpc CROSS_COMPILE=powerpc-linux-gnu- M="$probe" modules \
  >"$work/probe.log" 2>&1 || [ ! -s "$probe/probe.ko" ]; then
  cat "$work/probe.log" >&2
  fail "the kept build tree does not build a module"
fi
rm -rf "$probe"

mv "$out" "$cache"
rm -rf "$work"
say "built $cache in $(($(date +%s) - start)) s"
echo "$cache"
