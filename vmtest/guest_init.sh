#!/bin/sh
# The guest's init: mounts the kernel's file systems, inserts the state file
# provider and the target module (the patch manager is left to the library),
# checks what the architecture shows (lkp_guest_target), runs the guest
# program on the suite the kernel command line names (lkpvm.suite=main or
# transitions; the latter with the sleeping thread's module lkp_sleeper) and
# powers off. The host reads the LKPVM- lines.
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
suite=main
case " $(cat /proc/cmdline) " in
  *" lkpvm.suite=transitions "*) suite=transitions ;;
esac
targets="/opt/lkp/ko/lkp_target.ko"
[ "$suite" = transitions ] && targets="$targets /opt/lkp/ko/lkp_sleeper.ko"
inserted=yes
for module in /opt/lkp/ko/livepatch_state.ko $targets; do
  insmod "$module" || inserted=no
done
if [ "$inserted" = yes ]; then
  /opt/lkp/bin/lkp_guest_target || echo "LKPVM-FAIL: lkp_guest_target exited $?"
  /opt/lkp/bin/lkp_guest_test "$suite"
  echo "LKPVM-EXIT: $?"
else
  echo "LKPVM-VERDICT: FAIL (the state file provider or a target module was not inserted)"
fi
poweroff -f
