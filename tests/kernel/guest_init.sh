#!/bin/busybox sh
# /init of the real-kernel stage's guest: runs the case named by ru3case= on
# the kernel's command line, prints "CHECK ..." lines and "CASE name PASS" or
# "CASE name FAIL: ...", and powers off. The case itself is bounded by a
# timeout so that the guest always powers off.
/bin/busybox --install -s /bin
export PATH=/bin LD_LIBRARY_PATH=/ru3 HOME=/tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
chmod 1777 /tmp
case_name="$(sed -n 's/.*ru3case=\([^ ]*\).*/\1/p' /proc/cmdline)"
failures=0

check() {  # description, command...: passes when the command does
  local what="$1"
  shift
  if "$@" >/dev/null 2>&1; then echo "CHECK ok   $what"; else echo "CHECK FAIL $what"; failures=$((failures + 1)); fi
}
has() { grep -q -- "$1" "$2"; }
load() { for m in "$@"; do insmod "/modules/$m.ko" || echo "CHECK FAIL insmod $m"; done; }
show() { sed 's/^/  /' "$1"; }
run() {  # output file, command...: the command's output (both streams) kept and shown
  local out="$1"
  shift
  "$@" >"$out" 2>&1
  echo $? >"$out.rc"
  show "$out"
}
rc() { [ "$(cat "$1.rc")" = "$2" ]; }
ms_below() { [ "$(sed -n "s/^PROBE $2 .*ms=\([0-9]*\).*/\1/p" "$1")" -lt "$3" ]; }
as_user() { local user="$1"; shift; su -s /bin/sh "$user" -c "$*"; }
ports_ppdev() {  # /dev/parportN as udev leaves them on Debian: root:lp 0660
  for d in /dev/parport[0-9]; do chgrp lp "$d" && chmod 0660 "$d"; done
}
measures() {  # label, output file
  check "$1: InitInstrument opens" has 'PROBE init status=0' "$2"
  check "$1: a 32760-sample two-channel record in volts" has 'PROBE measure ok samples=32760' "$2"
}

case_ppdev() {
  load parport parport_pc ppdev
  run /tmp/info /ru3/ru3 info
  check "found on LPT1 at 0x378" has 'LPT1 at base address 0x378' /tmp/info
  check "exclusive claim" has 'claim *exclusive' /tmp/info
  run /tmp/m /ru3/ru3_guest_probe measure
  measures ppdev /tmp/m
}

case_lp() {
  load parport parport_pc ppdev lp
  run /tmp/info /ru3/ru3 info
  check "lp: found on LPT1" has 'LPT1 at base address 0x378' /tmp/info
  check "lp: shared claim named" has 'claim *shared with the lp printer driver' /tmp/info
  run /tmp/m /ru3/ru3_guest_probe measure
  measures lp /tmp/m
  # The printer driver writes to the port (nothing acknowledges it: it gives up).
  timeout 5 sh -c 'echo page >/dev/lp0' 2>/dev/null
  run /tmp/m2 /ru3/ru3_guest_probe measure
  measures "lp after a write to /dev/lp0" /tmp/m2
  run /tmp/info2 /ru3/ru3 info
  check "lp after the write: shared claim named" has 'claim *shared with the lp printer driver' /tmp/info2
}

case_group() {
  load parport parport_pc ppdev lp
  ports_ppdev
  run /tmp/out as_user meter /ru3/ru3_guest_probe measure
  check "outside lp: no instrument" has 'PROBE init status=1' /tmp/out
  check "outside lp: told to join lp" has 'add the user to group lp' /tmp/out
  run /tmp/m as_user printer /ru3/ru3_guest_probe measure
  measures "member of lp" /tmp/m
  run /tmp/info as_user printer /ru3/ru3 info
  check "member of lp: ru3 info names the shared claim" has 'claim *shared with the lp printer driver' /tmp/info
}

case_raw() {
  load parport parport_pc
  run /tmp/info /ru3/ru3 info
  check "raw: found on LPT1" has 'LPT1 at base address 0x378' /tmp/info
  check "raw: claim named raw port I/O" has 'claim *raw port I/O' /tmp/info
  run /tmp/m /ru3/ru3_guest_probe measure
  measures raw /tmp/m
}

case_none() {
  run /tmp/out /ru3/ru3_guest_probe measure
  check "no modules: InitInstrument answers 1" has 'PROBE init status=1' /tmp/out
  check "no modules: at once" ms_below /tmp/out init 500
  check "no modules: the module named" has 'parport_pc' /tmp/out
}

case_held() {
  load parport parport_pc ppdev
  /ru3/ru3_guest_probe hold 0 3 >/tmp/hold 2>&1 &
  local holder=$!
  while ! grep -q 'PROBE hold claimed' /tmp/hold; do usleep 20000; done
  run /tmp/out /ru3/ru3_guest_probe busy-then-open 0
  wait "$holder"
  show /tmp/hold
  check "held: InitInstrument answers 1" has 'PROBE busy status=1' /tmp/out
  check "held: within about a second" ms_below /tmp/out busy 1500
  check "held: the holder named" has 'held by another program (kernel device ppdev0)' /tmp/out
  check "held: the holder releases on time" ms_below /tmp/hold 'hold released=0' 100
  check "held: the same process opens once the holder lets go" has 'PROBE retry status=0' /tmp/out
  check "held: ... and measures" has 'PROBE measure ok' /tmp/out
  run /tmp/m /ru3/ru3_guest_probe measure
  measures "held: a new process" /tmp/m
  # What the back end relies on: a signal ends a sleeping claim, and then
  # nothing of it delays the holder's release.
  run /tmp/int /ru3/ru3_guest_probe interrupt 0
  check "held: a signal ends libieee1284's sleeping claim" has 'PROBE interrupt claim=-[0-9]* ms=3[0-9][0-9]$' /tmp/int
  check "held: the holder's release does not wait" ms_below /tmp/int 'interrupt holder released=0' 100
  dmesg >/tmp/dmesg
  check "held: no claim forgotten in the kernel" sh -c '! grep -q "forgot to release" /tmp/dmesg'
}

case_two() {  # $1: the base the instrument hangs on, as QEMU's device has it
  load parport parport_pc ppdev
  run /tmp/ports sh -c 'for p in /proc/sys/dev/parport/parport*; do echo "$p $(cat $p/base-addr)"; done'
  # LPTn is parport(n-1) in the kernel's numbering (its ACPI order, not the bases').
  local n="$(sed -n "s|.*/parport\([0-9]\) $(($1))[[:space:]].*|\1|p" /tmp/ports)"
  local lpt="LPT$((n + 1))"
  run /tmp/info /ru3/ru3 info
  check "two ports: found on $lpt at $1" has "$lpt at base address $1" /tmp/info
  run /tmp/m /ru3/ru3_guest_probe measure
  measures "two ports, $lpt" /tmp/m
}

# The port trace of ru3 info, for the comparison with the faked kernel's.
case_trace() {
  load parport parport_pc ppdev
  RU3_PORT_TRACE=/tmp/trace run /tmp/info /ru3/ru3 info
  check "trace: ru3 info runs" rc /tmp/info 0
  echo "TRACE BEGIN"
  gzip -c /tmp/trace | base64
  echo "TRACE END"
}

case_bench() {
  load parport parport_pc ppdev
  run /tmp/b /ru3/ru3_kernel_port_access --benchmark_min_time=0.5 --benchmark_color=false
  check "bench: runs" rc /tmp/b 0
  grep -o 'BENCH .*' /tmp/b
}

run_case() {
  case "$case_name" in
    ppdev | lp | group | raw | none | held | trace | bench) "case_$case_name" ;;
    two0) case_two 0x378 ;;
    two1) case_two 0x278 ;;
    *) echo "CHECK FAIL unknown case '$case_name'"; failures=1 ;;
  esac
}

if [ "$case_name" = "" ]; then
  echo "CASE ? FAIL: no ru3case= on the command line"
else
  # The guest's own bound: whatever hangs, it reports and powers off.
  (sleep 200; echo "CASE $case_name FAIL: timed out in the guest"; poweroff -f) &
  run_case
  if [ "$failures" = 0 ]; then echo "CASE $case_name PASS"; else echo "CASE $case_name FAIL: $failures checks"; fi
fi
poweroff -f
