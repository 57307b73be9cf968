#!/usr/bin/env bash
# corvane-cli on a real Linux kernel: boots Debian's kernel in QEMU with an emulated parallel
# port at 0x378 that has nothing plugged in, loads the kernel's own parport, parport_pc,
# ppdev and lp, and runs the checks of guest-init.sh. Then checks QEMU's log of what
# reached the port: after each command, nothing is written once the tool has let go, and
# the decoder's reset line (control bit 3) is released.
#
# Usage: vm-test.sh CORVANE_CLI WORK_DIR
set -euo pipefail

cli=$(realpath "$1")
work=$(mkdir -p "$2" && realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/deps.sh"

die() {
  echo "vm-test: $*" >&2
  exit 1
}
for tool in qemu-system-x86_64 busybox; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/deps.sh installs it)"
done

kernel=$(corvane_vm_kernel) || die "no kernel to boot"
vmlinuz=$(ls "$kernel"/boot/vmlinuz-* | head -n 1)
kver=${vmlinuz##*/vmlinuz-}

# ---- the initramfs: busybox, corvane-cli and the claimer with their libraries, the modules ---
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,usr/bin,etc/modprobe.d,proc,sys,dev,tmp,root}
cp "$(command -v busybox)" "$root/bin/busybox"
for applet in $(busybox --list); do
  case $applet in
    busybox) ;;
    modprobe | depmod | insmod | rmmod | lsmod) ln -s ../bin/busybox "$root/sbin/$applet" ;;
    *) ln -s busybox "$root/bin/$applet" ;;
  esac
done
cp "$cli" "$root/usr/bin/corvane-cli"
# claimer: a window's hold on the port, which keeps the device open between commands and
# claims it for each; built from the same port code. One request per line: claim, release.
cat >"$work/claimer.cpp" <<'CLAIMER'
#include <iostream>

#include "link/PpdevPortIo.h"

int main(int, char** argv) {
  int error = 0;
  auto port = corvane::PpdevPortIo::Open(corvane::SystemSys(), argv[1], &error);
  if (!port) return error;
  port->Release();
  std::cout << "ready" << std::endl;
  for (std::string line, why; std::getline(std::cin, line);) {
    if (line == "claim") std::cout << (port->Claim(&why) ? "claimed" : "refused: " + why);
    if (line == "release") port->Release(), std::cout << "released";
    std::cout << std::endl;
  }
}
CLAIMER
src=$(cd "$here/../.." && pwd)
"${CXX:-c++}" -std=c++20 -O1 -I"$src" "$work/claimer.cpp" "$src/link/PpdevPortIo.cpp" \
  "$src/link/Sys.cpp" -o "$root/usr/bin/claimer" || die "the claimer did not build"
for lib in $({ ldd "$cli" && ldd "$root/usr/bin/claimer"; } | grep -o '/[^ ]*' | sort -u); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
mkdir -p "$root/lib/modules/$kver"
cp -r "$kernel/lib/modules/$kver/kernel" "$root/lib/modules/$kver/"
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nlp:x:7:\nnogroup:x:65534:\n' >"$root/etc/group"
# pkexec as polkit's: a program name without a slash is looked up in the caller's PATH.
cat >"$root/usr/bin/pkexec" <<'EOF'
#!/bin/sh
echo "$@" >>/tmp/pkexec.log
program=$(command -v "$1") || { echo "Cannot run program $1: No such file or directory" >&2; exit 127; }
shift
exec "$program" "$@"
EOF
chmod 755 "$root/usr/bin/pkexec"
install -m 755 "$here/guest-init.sh" "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) | gzip -1 >"$work/initrd.gz"

# ---- boot -----------------------------------------------------------------------------------
# Plain emulation: KVM is not on every CI machine, and where it is nested it can stall.
accel=tcg
rm -f "$work/port.fifo" "$work/port.log"
mkfifo "$work/port.fifo"
# Register 5 mutes the log, register 6 unmutes it: the printer's own traffic is millions of
# lines.
awk '/ read .* addr 0x05 / { mute = 1; next }
     / read .* addr 0x06 / { mute = 0; next }
     !mute || / addr 0x07 / { print }' <"$work/port.fifo" >"$work/port.log" &
filter=$!
start=$(date +%s)
timeout 300 qemu-system-x86_64 -M pc,accel=$accel -m 256 -smp 1 -nodefaults -no-user-config \
  -display none -serial stdio -no-reboot \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 panic=-1 quiet ppdev.dyndbg=+p parport.dyndbg=+p" \
  -chardev null,id=pp -device isa-parallel,chardev=pp,iobase=0x378,irq=7 \
  -trace "parallel_ioport_*,file=$work/port.fifo" >"$work/console.log" 2>&1 || true
wait "$filter" || true
echo "vm-test: the machine ran $(($(date +%s) - start)) s ($accel); console in $work/console.log"
tr -d '\r' <"$work/console.log" | grep -E '^(PASS|FAIL|==|   |@)' || true

# ---- the guest's own findings -----------------------------------------------------------------
console=$(tr -d '\r' <"$work/console.log")
grep -q '^@done failures=0$' <<<"$console" || die "the guest reported failures or did not finish"
passes=$(grep -c '^PASS ' <<<"$console")
[ "$passes" -ge 82 ] || die "only $passes checks passed in the guest"

# ---- what reached the port -------------------------------------------------------------------
# Cut QEMU's log at the marks (reads of register 7) and pair the pieces with the guest's
# "@mark NAME" lines.
mapfile -t marks < <(grep '^@mark ' <<<"$console" | cut -d' ' -f2)
nreads=$(grep -c ' read .* addr 0x07 ' "$work/port.log" || true)
[ "$nreads" -eq "${#marks[@]}" ] || die "${#marks[@]} marks but $nreads reads of register 7"
bad=0
while read -r _ name expected; do
  # "@last NAME out 37A 03": the tool's last control write, as its --trace recorded it.
  value=${expected##* }
  piece=$(awk -v want="$name" -v names="${marks[*]}" '
      BEGIN { n = split(names, m, " ") }
      / read .* addr 0x07 / { i++; inside = (m[i] == want); next }
      inside && / write / { print }' "$work/port.log")
  last=$(tail -n 1 <<<"$piece")
  lastval=${last##*val 0x}
  data=$(grep -c 'addr 0x00' <<<"$piece" || true)
  if [[ "$last" != *"addr 0x02 "* ]]; then
    echo "FAIL $name: the last write to the port is not the tool's control write: $last"
    bad=1
  elif (((16#$lastval & 0x2F) != (16#$value & 0x2F))); then
    echo "FAIL $name: the port's control ends at $lastval, the tool's last write was $value"
    bad=1
  elif (((16#$lastval & 0x08) != 0)); then
    echo "FAIL $name: the decoder is left in reset (control $lastval)"
    bad=1
  elif ((data > 2)); then
    echo "FAIL $name: $data bytes went out on the data lines with nothing plugged in"
    bad=1
  else
    echo "PASS $name.port: ends with control $lastval written by the tool, $data data writes"
  fi
done < <(grep '^@last ' <<<"$console")
((bad == 0)) || die "the port log shows writes the tool did not make"
echo "vm-test: all $passes guest checks and the port log passed"
