#!/bin/sh
# The guest's init: mounts the kernel's file systems, inserts the state file
# provider and the target module (the patch manager is left to the library),
# runs the guest program and powers off. The host reads the LKPVM- lines.
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
if insmod /opt/lkp/ko/livepatch_state.ko && insmod /opt/lkp/ko/lkp_target.ko; then
  /opt/lkp/bin/lkp_guest_test
  echo "LKPVM-EXIT: $?"
else
  echo "LKPVM-VERDICT: FAIL (the state file provider or the target module was not inserted)"
fi
poweroff -f
