#!/usr/bin/env bash
# The real-kernel stage: Debian's packaged kernel booted in qemu-system-x86,
# its parport, parport_pc, ppdev and lp modules driving QEMU's ISA parallel
# port in passthrough mode, and the unchanged libru3.so, ru3 and a probe
# program in the guest. On the host, QEMU's /dev/parport0 and /dev/parport1
# are answered by tests/kernel/port_shim.cpp (preloaded into QEMU) with the
# simulated instrument behind the registers.
#
# Each case is one boot: the guest's /init runs it (tests/kernel/guest_init.sh),
# prints "CASE name PASS" or "CASE name FAIL: why" and powers off. Every boot
# is bounded on both sides (the guest's own timeout, then the host's).
#   run.sh [BUILD_DIR] [CASE...]   (default build/default, every case)
# TCG by default; RU3_KERNEL_ACCEL=kvm where KVM is known to work.
# The kernel image package is fetched with apt-get download into
# build/kernel-cache (never installed) and unpacked there with dpkg -x.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="$(realpath "${1:-build/default}")"
shift || true
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(ppdev lp group raw none held two trace bench)
cache="$(realpath -m build/kernel-cache)"
work="$build/tests/kernel/guest"
mkdir -p "$cache"

# ---- the kernel -------------------------------------------------------------
image_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1
}
package="$(image_package)"
if [ -z "$package" ]; then
  apt-get update -qq >/dev/null 2>&1 || true
  package="$(image_package)"
fi
deb="$(ls "$cache"/"${package:-linux-image-}"*_amd64.deb 2>/dev/null | head -n1 || true)"
if [ -z "$deb" ]; then
  [ -n "$package" ] || { echo "kernel stage: no linux-image-amd64 known to apt" >&2; exit 1; }
  # As root, apt would hand the download to its _apt user, who cannot write here.
  sandbox=()
  [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
  (cd "$cache" && apt-get download "${sandbox[@]}" "$package" >/dev/null)
  deb="$(ls "$cache"/"$package"_*_amd64.deb | head -n1)"
fi
root="$cache/$(basename "$deb" .deb)"
if [ ! -d "$root/boot" ]; then
  rm -rf "$root.tmp"
  dpkg -x "$deb" "$root.tmp"
  mv "$root.tmp" "$root"
fi
kernel="$(ls "$root"/boot/vmlinuz-* | head -n1)"
modules="$(ls -d "$root"/lib/modules/* | head -n1)"

# ---- the initramfs ----------------------------------------------------------
rm -rf "$work" && mkdir -p "$work"/{bin,dev,etc,proc,sys,tmp,modules,ru3}
cp /bin/busybox "$work/bin/busybox"
for m in drivers/parport/parport drivers/parport/parport_pc drivers/char/ppdev drivers/char/lp; do
  if [ -f "$modules/kernel/$m.ko.xz" ]; then
    xz -dc "$modules/kernel/$m.ko.xz" >"$work/modules/$(basename "$m").ko"
  else
    cp "$modules/kernel/$m.ko" "$work/modules/"
  fi
done
programs=("$build/ru3" "$build/tests/kernel/ru3_guest_probe")
cp "${programs[@]}" "$work/ru3/"
cp -a "$build"/libru3.so* "$work/ru3/"
bench="$build/tests/kernel/ru3_kernel_port_access"
[ ! -x "$bench" ] || { cp "$bench" "$work/ru3/"; programs+=("$bench"); }
# The shared libraries they need, at the paths the host has them.
for lib in $(LD_LIBRARY_PATH="$build" ldd "${programs[@]}" | grep -o '/[^ ]*\.so[^ ]*' | sort -u); do
  case "$lib" in "$build"/*) continue ;; esac
  mkdir -p "$work$(dirname "$lib")"
  cp -L "$lib" "$work$lib"
done
cp tests/kernel/guest_init.sh "$work/init"
chmod +x "$work/init"
printf 'root:x:0:0:root:/root:/bin/sh\nmeter:x:1000:1000::/tmp:/bin/sh\nprinter:x:1001:1001::/tmp:/bin/sh\n' >"$work/etc/passwd"
printf 'root:x:0:\nlp:x:7:printer\nmeter:x:1000:\nprinter:x:1001:\n' >"$work/etc/group"
(cd "$work" && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null) >"$build/tests/kernel/initramfs.cpio"

# ---- the boots ---------------------------------------------------------------
# KVM, where /dev/kvm opens at all, may still hang under nested
# virtualisation. RU3_KERNEL_ACCEL=kvm chooses it where it is known to work.
accel="${RU3_KERNEL_ACCEL:-tcg}"
shim="$build/tests/kernel/libru3_qemu_port_shim.so"
logs="$build/tests/kernel/logs"
mkdir -p "$logs"
failed=0
boot() {  # case, instrument port, ports
  local name="$1" instrument="$2" ports="$3" log="$logs/$1.log"
  local devices=(-chardev parallel,id=pp0,path=/dev/parport0 -device isa-parallel,chardev=pp0,iobase=0x378,irq=7)
  [ "$ports" -lt 2 ] || devices+=(-chardev parallel,id=pp1,path=/dev/parport1 -device isa-parallel,chardev=pp1,iobase=0x278,irq=5)
  local start=$SECONDS shim_log=/dev/null
  [ "$name" != trace ] || { shim_log="$logs/trace-shim.txt"; rm -f "$shim_log"; }
  RU3_SHIM_INSTRUMENT="$instrument" RU3_SHIM_LOG="$shim_log" LD_PRELOAD="$shim" timeout 240 qemu-system-x86_64 -accel "$accel" \
    -m 256 -nodefaults -display none -serial stdio -no-reboot -nic none "${devices[@]}" \
    -kernel "$kernel" -initrd "$build/tests/kernel/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1 ru3case=$name" </dev/null >"$log" 2>&1 || true
  tr -d '\r' <"$log" | grep -E '^(CHECK|CASE|BENCH|  )' || true
  local passed=0
  ! tr -d '\r' <"$log" | grep -qx "CASE $name PASS" || passed=1
  [ "$name" != trace ] || [ "$passed" = 0 ] || compare_traces "$log" || passed=0
  if [ "$passed" = 1 ]; then
    echo "kernel stage: $name passed in $((SECONDS - start)) s ($accel)"
  else
    echo "kernel stage: $name FAILED after $((SECONDS - start)) s ($accel); the guest's console is in $log"
    failed=1
  fi
}
# The guest's trace of ru3 info against the same run on the faked kernel.
compare_traces() {
  tr -d '\r' <"$1" | sed -n '/^TRACE BEGIN$/,/^TRACE END$/p' | sed '1d;$d' | base64 -d | gunzip >"$logs/trace-guest.txt"
  rm -f "$logs/trace-fake.txt"
  LD_PRELOAD="$build/tests/fakes/parport/libru3_fake_parport.so" RU3_PORT_TRACE="$logs/trace-fake.txt" \
    "$build/ru3" info >/dev/null 2>&1
  python3 tests/kernel/compare_traces.py "$logs/trace-guest.txt" "$logs/trace-fake.txt" "$logs/trace-shim.txt"
}
for c in "${cases[@]}"; do
  case "$c" in
    two) boot two0 0 2; boot two1 1 2 ;;
    *) boot "$c" 0 1 ;;
  esac
done
exit "$failed"
