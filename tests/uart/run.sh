#!/usr/bin/env bash
# Runs the library on the kernel's real serial drivers: a guest under QEMU
# (Debian's kernel, a busybox initramfs, our statically linked test host)
# with a 16550A on ttyS1 and an FTDI adapter on ttyUSB0, each wired to a unix
# socket where the bus side checks what the guest sends. The guest has no
# network device. Skips, in one line, only when QEMU cannot start at all.
# Usage: tests/uart/run.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
budget=150  # seconds for boot and checks together; a run takes well under

qemu=$(command -v qemu-system-x86_64 || true)
if [ -z "$qemu" ] || ! "$qemu" -version >/dev/null 2>&1; then
  echo "uart: skipped: QEMU cannot start here (no working qemu-system-x86_64)"
  exit 0
fi
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
[ -n "$kernel" ] || { echo "uart: no kernel in /boot (linux-image-amd64 is not installed)"; exit 1; }
version=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$version
busybox=$(dpkg -L busybox-static 2>/dev/null | grep -m1 '/bin/busybox$' || true)
[ -n "$busybox" ] || { echo "uart: busybox-static is not installed"; exit 1; }

cmake --build "$build" --target uart_guest uart_bus >/dev/null
guest=$build/tests/uart/uart_guest bus=$build/tests/uart/uart_bus

work=$(mktemp -d /tmp/tivlink-uart.XXXXXX)
qemu_pid=
cleanup() {
  if [ -n "$qemu_pid" ]; then kill "$qemu_pid" 2>/dev/null || true; wait "$qemu_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The initramfs: busybox, the USB modules in dependency order, the test host.
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules}
cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$guest" "$root/uart_guest"
load=()
for target in kernel/drivers/usb/host/xhci-pci kernel/drivers/usb/serial/ftdi_sio; do
  line=$(grep -E "^$target\.ko(\.xz|\.zst)?:" "$modules/modules.dep") || { echo "uart: $target not in $modules"; exit 1; }
  for m in $(echo "${line#*:}" | tr ' ' '\n' | tac) "${line%%:*}"; do
    [[ " ${load[*]:-} " == *" $m "* ]] && continue
    load+=("$m")
    name=${m##*/}
    case $m in  # busybox insmod takes plain modules
      *.xz) xz -dc "$modules/$m" >"$root/lib/modules/${name%.xz}" ;;
      *.zst) zstd -qdc "$modules/$m" >"$root/lib/modules/${name%.zst}" ;;
      *) cp "$modules/$m" "$root/lib/modules/" ;;
    esac
  done
done
{
  echo '#!/bin/sh'
  echo 'export PATH=/bin'
  echo 'busybox mount -t proc proc /proc; busybox mount -t sysfs sys /sys'
  echo 'busybox mount -t devtmpfs dev /dev; busybox mount -t tmpfs tmp /tmp'
  for m in "${load[@]}"; do m=${m##*/}; echo "busybox insmod /lib/modules/${m%.ko*}.ko"; done
  cat <<'INIT'
echo  # the firmware's screen codes end on a line of their own
i=0; while [ ! -e /dev/ttyUSB0 ] && [ $i -lt 100 ]; do busybox sleep 0.1; i=$((i+1)); done
echo "@info guest: ready $(busybox cut -d' ' -f1 /proc/uptime) s after boot, clock $(busybox cat /sys/devices/system/clocksource/clocksource0/current_clocksource)"
# The test host's boxes and fatal stops go to /tmp/boxes; shown when it fails.
/uart_guest ttyS1 2 /dev/ttyS1 || { echo "@fail ttyS1 the test host ended with status $?"; busybox cat /tmp/boxes; }
TIVLINK_COM3=/dev/ttyUSB0 /uart_guest ttyUSB0 3 /dev/ttyUSB0 ||
  { echo "@fail ttyUSB0 the test host ended with status $?"; busybox cat /tmp/boxes; }
echo "@info guest: done $(busybox cut -d' ' -f1 /proc/uptime) s after boot"
echo @done
busybox poweroff -f
INIT
} >"$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

start=$(date +%s%N)
# No network device at all; the guest's only links are the console and the two ports.
"$qemu" -accel tcg -m 512 -nographic -no-reboot -nodefaults -nic none \
  -chardev socket,id=con,path="$work/console.sock",server=on,wait=on -serial chardev:con \
  -chardev socket,id=u1,path="$work/ttyS1.sock",server=on,wait=on -serial chardev:u1 \
  -device qemu-xhci \
  -chardev socket,id=u2,path="$work/ttyUSB0.sock",server=on,wait=on -device usb-serial,chardev=u2 \
  -kernel "$kernel" -initrd "$work/initramfs.gz" \
  -append "console=ttyS0 quiet loglevel=1 panic=-1 clocksource=hpet" >"$work/qemu.log" 2>&1 &
qemu_pid=$!

status=0
"$bus" "$work" "$budget" || status=$?
# The guest powers off after its last check; one that hangs is stopped by cleanup.
for _ in $(seq 50); do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.2; done
ms=$((($(date +%s%N) - start) / 1000000))
echo "uart: kernel $version, run took $((ms / 1000)).$((ms % 1000 / 100)) s, boot included"
if [ "$status" -ne 0 ]; then
  echo "--- guest console ---"; cat "$work/console.log" 2>/dev/null || true
  echo "--- qemu ---"; cat "$work/qemu.log"
fi
exit "$status"
