#!/bin/sh
# The guest's init: mounts the kernel's file systems (and /run, where the
# library's and lkpctl's lock files live), inserts the state file provider
# and the target modules (the patch manager is left to the library), starts
# CPU-bound processes when asked, checks what the architecture shows
# (lkp_guest_target), runs the guest program on the suite the kernel command
# line names and powers off. The host reads the LKPVM- lines.
#   lkpvm.suite=main|transitions|operators  the suite (default main)
#   lkpvm.repeat=N   how often the operators' and the transition suite
#                    repeat each scenario
#   lkpvm.repeat_long=M  how often the operators' suite repeats its two long
#                    scenarios (N by default)
#   lkpvm.busy=N     N processes spinning on the CPU beside the suite
#   lkpvm.kills=1    the operators' suite also kills lkpctl half-way and
#                    repairs (the guest program reads it itself)
#   lkpvm.dump=S     after S seconds, print every task's kernel stack and the
#                    live patches' files (for finding out why a run hangs)
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mkdir -p /run && mount -t tmpfs run /run
# Every applet (the update module needs awk, cp, grep, date, ...).
/bin/busybox --install -s /bin
suite=main repeats= repeats_long= busy=0 dump=
for word in $(cat /proc/cmdline); do
  case "$word" in
    lkpvm.suite=*) suite=${word#*=} ;;
    lkpvm.repeat=*) repeats=${word#*=} ;;
    lkpvm.repeat_long=*) repeats_long=${word#*=} ;;
    lkpvm.busy=*) busy=${word#*=} ;;
    lkpvm.dump=*) dump=${word#*=} ;;
  esac
done
targets="/opt/lkp/ko/lkp_target.ko"
case "$suite" in
  transitions) targets="$targets /opt/lkp/ko/lkp_sleeper.ko" ;;
  operators) targets="$targets /opt/lkp/ko/lkp_slots.ko" ;;
esac
inserted=yes
for module in /opt/lkp/ko/livepatch_state.ko $targets; do
  insmod "$module" || inserted=no
done
spinning=0
while [ "$spinning" -lt "$busy" ]; do
  (while :; do :; done) &
  spinning=$((spinning + 1))
done
if [ -n "$dump" ]; then
  (
    sleep "$dump"
    echo "LKPVM-DUMP: after $dump s"
    for task in /proc/[0-9]*; do
      echo "== ${task#/proc/} $(cat "$task/comm" 2>/dev/null): $(tr '\0' ' ' <"$task/cmdline" 2>/dev/null)"
      cat "$task/stack" 2>/dev/null
    done
    grep . /proc/navo_lkp_list /proc/livepatch/state /sys/kernel/livepatch/*/enabled \
      /sys/kernel/livepatch/*/transition 2>/dev/null
  ) &
fi
if [ "$inserted" = yes ]; then
  /opt/lkp/bin/lkp_guest_target || echo "LKPVM-FAIL: lkp_guest_target exited $?"
  /opt/lkp/bin/lkp_guest_test "$suite" $repeats $repeats_long
  echo "LKPVM-EXIT: $?"
else
  echo "LKPVM-VERDICT: FAIL (the state file provider or a target module was not inserted)"
fi
poweroff -f
