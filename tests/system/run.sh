#!/usr/bin/env bash
# tivgate on a Debian 12 system, as users run it: the project's packages
# installed with apt in a bookworm root filesystem with systemd, udev and
# Debian's olad, booted under QEMU (TCG, no network device) with an FTDI
# adapter on xHCI and a 16550A on ttyS1, each wired to a simulated bus
# (tivsim) on the host; at the end two instances drive the two buses. The guest is set up as docs/gateway.md says, then checked
# through a shell on a virtio-serial port; the adapter is unplugged and
# plugged back over QMP. One line per check, then "N passed, M failed".
# Skips, in one line, only when QEMU cannot start at all.
# Usage: tests/system/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(realpath "${1:?usage: run.sh BUILD_DIR}")
cache=$build/system  # kept between runs: downloaded .debs, the base root filesystem
stage_start=${EPOCHREALTIME/./}

qemu=$(command -v qemu-system-x86_64 || true)
if [ -z "$qemu" ] || ! "$qemu" -version >/dev/null 2>&1; then
  echo "system: skipped: QEMU cannot start here (no working qemu-system-x86_64)"
  exit 0
fi
for tool in mmdebstrap mke2fs socat; do
  command -v "$tool" >/dev/null || { echo "system: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d /tmp/tivlink-system.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

ms_now() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
secs() { printf '%d.%d' $(($1 / 1000)) $(($1 % 1000 / 100)); }
passed=0 failed=0
pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }

# --- The packages, built the way Debian builds them ---------------------------
t0=$(ms_now)
bash "$repo/scripts/build-debs.sh" "$build/../deb" >"$work/debs.txt" 2>"$work/debs.err" ||
  { cat "$work/debs.err"; exit 1; }
mapfile -t debs < <(grep '\.deb$' "$work/debs.txt")
echo "system: ${#debs[@]} packages built in $(secs $(($(ms_now) - t0))) s"
packages=$(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done | tr '\n' ' ')

# --- The root filesystem -----------------------------------------------------
# The archive as the host's apt sources name it.
. "$repo/scripts/archive.sh"
mapfile -t mirrors < <(archive_lines bookworm bookworm-updates bookworm-security)
[ ${#mirrors[@]} -gt 0 ] || exit 1
# Everything apt installs, from Debian's archive and from our .debs, which
# file-mirror-automount serves to it. The initramfs keeps only what mounts
# a virtio disk: 6 MiB instead of 35.
build_base() {
  local root=$1 includes=()
  for d in "${debs[@]}"; do includes+=("--include=$d"); done
  mkdir -p "$cache/apt"
  mmdebstrap --variant=apt --mode=root --format=directory --quiet \
    --include=systemd-sysv,udev,linux-image-amd64,ola,procps,psmisc,curl "${includes[@]}" \
    --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
    --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata \
    --skip=download/empty --skip=essential/unlink \
    --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
    --setup-hook="sync-in $cache/apt /var/cache/apt/archives" \
    --essential-hook='mkdir -p "$1"/etc/initramfs-tools/conf.d "$1"/usr/share/initramfs-tools/modules.d' \
    --essential-hook='echo MODULES=list >"$1"/etc/initramfs-tools/conf.d/tivtest' \
    --essential-hook='printf "%s\n" virtio_pci virtio_blk crc32c_generic ext4 >"$1"/usr/share/initramfs-tools/modules.d/tivtest' \
    --customize-hook="sync-out /var/cache/apt/archives $cache/apt" \
    --customize-hook="upload $here/guest-shell.sh /usr/local/sbin/tivtest-shell" \
    --customize-hook="upload $here/tivtest-shell.service /etc/systemd/system/tivtest-shell.service" \
    --customize-hook='chmod 755 "$1"/usr/local/sbin/tivtest-shell; chroot "$1" systemctl enable tivtest-shell' \
    --customize-hook='echo tivguest >"$1"/etc/hostname' \
    bookworm "$root" "${mirrors[@]}"
}
# The base is rebuilt when anything that shapes it changes: this recipe, the
# guest's shell, the mirrors, the packages' names and what they depend on.
key=$( { declare -f build_base; cat "$here/guest-shell.sh" "$here/tivtest-shell.service"; printf '%s\n' "${mirrors[@]}"
         for d in "${debs[@]}"; do dpkg-deb -f "$d" Package Depends; done; } | sha256sum | cut -c1-16)
base=$cache/base-$key.tar
root=$work/root
t0=$(ms_now)
if [ -s "$base" ]; then
  how="cached base $key"
  mkdir "$root" && tar -C "$root" --numeric-owner -xf "$base"
  # Their dependencies are in the base (the key covers them): the new builds go over the old.
  mkdir -p "$root/tmp/debs" && cp "${debs[@]}" "$root/tmp/debs/"
  chroot "$root" sh -c 'dpkg -i /tmp/debs/*.deb' >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
  rm -rf "$root/tmp/debs"
else
  how="built with mmdebstrap, base $key"
  rm -f "$cache"/base-*.tar
  build_base "$root" >"$work/mmdebstrap.log" 2>&1 || { tail -n 40 "$work/mmdebstrap.log"; exit 1; }
  tar -C "$root" --numeric-owner -cf "$base.part" . && mv "$base.part" "$base"
fi
rootfs_ms=$(($(ms_now) - t0))
cp "$root"/boot/vmlinuz-* "$work/vmlinuz" && cp "$root"/boot/initrd.img-* "$work/initrd.img"
t0=$(ms_now)
size_mb=$(($(du -sm "$root" | cut -f1) + 400))
mke2fs -q -t ext4 -L tivroot -d "$root" -F "$work/rootfs.img" "${size_mb}M" >/dev/null
image_ms=$(($(ms_now) - t0))
rm -rf "$root"
echo "system: root filesystem $(secs "$rootfs_ms") s ($how), ext4 image $(secs "$image_ms") s"

# --- The bus on the host: tivsim's pseudo-terminal is the adapter's far end ----
cmake --build "$build" --target tivsim >/dev/null
"$build/tools/tivsim" --device 0x010001 --device 0x010002 --plain >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^TIVLINK_COM1=' "$work/bus.log" && break; sleep 0.05; done
pty=$(sed -n 's/^TIVLINK_COM1=//p' "$work/bus.log")
[ -n "$pty" ] || { echo "system: tivsim printed no line:"; cat "$work/bus.log"; exit 1; }
# The second bus, on the 16550A (ttyS1), for the second instance.
"$build/tools/tivsim" --device 0x020001 --device 0x020002 --plain >"$work/bus2.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^TIVLINK_COM1=' "$work/bus2.log" && break; sleep 0.05; done
pty2=$(sed -n 's/^TIVLINK_COM1=//p' "$work/bus2.log")
[ -n "$pty2" ] || { echo "system: the second tivsim printed no line:"; cat "$work/bus2.log"; exit 1; }

# --- The guest -----------------------------------------------------------------
byid=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_TIV0001-if00-port0
adapter='"driver":"usb-serial","id":"usbser0","bus":"xhci.0","chardev":"usb","serial":"TIV0001"'
boot_start=$(ms_now)
# No network device: the console, ttyS1, the adapter, the test's shell and QMP are all it has.
"$qemu" -accel tcg -smp 2 -m 1024 -display none -no-reboot -nodefaults -nic none \
  -kernel "$work/vmlinuz" -initrd "$work/initrd.img" -append "root=/dev/vda rw console=ttyS0,115200 panic=-1" \
  -drive file="$work/rootfs.img",if=virtio,format=raw \
  -chardev file,id=con,path="$work/console.log" -serial chardev:con \
  -chardev serial,id=s1,path="$pty2" -serial chardev:s1 \
  -device qemu-xhci,id=xhci -chardev serial,id=usb,path="$pty" -device "usb-serial,id=usbser0,bus=xhci.0,chardev=usb,serial=TIV0001" \
  -device virtio-serial-pci -chardev socket,id=sh,path="$work/shell.sock",server=on,wait=off \
  -device virtserialport,chardev=sh,name=tivtest \
  -qmp unix:"$work/qmp.sock",server=on,wait=off >"$work/qemu.log" 2>&1 &
qemu_pid=$!
pids+=($qemu_pid)

# NAME.sock through socat: we write to NAME.in, whatever comes back lands in NAME.log.
connect() {
  for _ in $(seq 100); do [ -S "$work/$1.sock" ] && break; sleep 0.05; done
  mkfifo "$work/$1.in" && : >"$work/$1.log"
  socat STDIO "UNIX-CONNECT:$work/$1.sock" <"$work/$1.in" >>"$work/$1.log" 2>>"$work/socat.log" &
  pids+=($!)
}
connect shell && exec {sh_w}>"$work/shell.in"
connect qmp && exec {qmp_w}>"$work/qmp.in"

# upto FILE FROM PATTERN SECONDS: waits for a line beginning with PATTERN in
# FILE past byte FROM; sets $out to all of it so far and $line to that line.
upto() {
  local end=$(($(ms_now) + $4 * 1000))
  while :; do
    out=$(tail -c +$(($2 + 1)) "$1")
    line=$(grep -m1 -- "^$3" <<<"$out") && return 0
    [ "$(ms_now)" -lt "$end" ] || return 1
    sleep 0.05
  done
}
qmp() {  # qmp JSON: one command; true when QEMU answers with a return
  local from; from=$(stat -c %s "$work/qmp.log")
  printf '%s\n' "$1" >&"$qmp_w"
  upto "$work/qmp.log" "$from" '{"\(return\|error\)"' 10 && [[ $line == '{"return"'* ]]
}
seq=0 from=0
send() {  # send SECONDS SCRIPT: starts SCRIPT in the guest as root, bounded
  seq=$((seq + 1)) from=$(stat -c %s "$work/shell.log")
  { printf '@@run %d %d\n' "$seq" "$1"; cat "$here/guest-lib.sh"; printf '%s\n@@end\n' "$2"; } >&"$sh_w"
}
answer() {  # answer SECONDS: the script's output in $out; returns its status
  upto "$work/shell.log" "$from" "@@rc $seq " "$1" || { out+=" (no end within $1 s)"; return 124; }
  out=$(sed "/^@@rc $seq /,\$d" <<<"$out")
  return "${line##* }"
}
guest() { send "$@"; answer $(($1 + 5)); }
wait_for() { upto "$work/shell.log" "$from" "$1" "$2"; }  # a line of the running script

upto "$work/qmp.log" 0 '{"QMP"' 20 && qmp '{"execute":"qmp_capabilities"}' || { echo "system: no QMP"; cat "$work/qemu.log"; exit 1; }
if ! upto "$work/shell.log" 0 @@ready 180; then
  echo "system: the guest did not come up within 180 s"; tail -n 30 "$work/console.log"; cat "$work/qemu.log"; exit 1
fi
boot_ms=$(($(ms_now) - boot_start)) uptime=${line#@@ready }
st=0; guest 60 'systemctl is-system-running --wait' || st=$?
echo "system: guest up in $(secs "$boot_ms") s ($uptime s of guest uptime), systemd says: $out"

# --- What the bus shows ----------------------------------------------------------
# The four slots from FIRST of the frame V1,V2,... as tivsim prints a colour.
colour_of() { local IFS=, v; read -ra v <<<"$1"; printf '%02X %02X %02X %02X' "${v[@]:$(($2 - 1)):4}"; }
# The pairs ADDRESS COLOUR the bus should show for the frame, device 1 from
# slot FIRST1 and device 2 from FIRST2.
expect() { current=(0x010001 "$(colour_of "$1" "$2")" 0x010002 "$(colour_of "$1" "$3")"); }
# The adapter's bus; bus_log=$work/bus2.log before a call for the 16550A's.
bus_size() { stat -c %s "${bus_log:-$work/bus.log}"; }
# A device's look is whole once its last frame, LIGHT 00 with the colour, arrived intact.
looks_since() {  # looks_since MARK ADDRESS COLOUR ...
  local tail; tail=$(tail -c +$(($1 + 1)) "${bus_log:-$work/bus.log}"); shift
  while [ $# -gt 0 ]; do
    grep -qE "$(printf '0x%06X  len 5    LIGHT \\(7E\\)  00 %s  crc [0-9A-F]{4} ok' "$1" "$2")" <<<"$tail" || return 1
    shift 2
  done
}
await_looks() {  # await_looks MARK SECONDS ADDRESS COLOUR ...: $look_ms is how long it took
  local mark=$1 t0; t0=$(ms_now); local end=$((t0 + $2 * 1000)); shift 2
  until looks_since "$mark" "$@"; do [ "$(ms_now)" -lt "$end" ] || return 1; sleep 0.05; done
  look_ms=$(($(ms_now) - t0))
}
# Frame lines past MARK that do not make whole looks: three good frames to one
# device, LIGHT 12 01, 04 and 00.
broken_looks() {
  tail -c +$(($1 + 1)) "$work/bus.log" | grep -E '^ +[0-9.]+ ms' | awk '
    { n++; k = (n - 1) % 3; ok = / ok$/ && match($0, /0x[0-9A-F]+  len [0-9]+ +LIGHT \(7E\)  /)
      addr = substr($0, RSTART, 8); pay = substr($0, RSTART + RLENGTH); sub(/  crc.*/, "", pay)
      if (!ok || pay !~ (k == 0 ? "^12 01$" : k == 1 ? "^04 " : "^00 ") || (k && addr != first)) print
      if (k == 0) first = addr }
    END { if (n % 3) print "a look left unfinished" }' || true
}

# --- The checks ----------------------------------------------------------------
st=0; guest 60 "dpkg-query -W -f='\${Package} \${Status}\n' $packages; apt-get check -q" || st=$?
missing=$(grep -vc ' install ok installed$' <<<"$out" || true)
if [ "$st" -eq 0 ] && [ "$(grep -c ' install ok installed$' <<<"$out")" -eq "${#debs[@]}" ]; then
  pass "packages: ${packages% } installed (${how%%,*}); apt-get check: every dependency met"
else
  fail "packages: $missing not installed or apt-get check failed: $out"
fi

# The first day: the port held as the stock olad's plugins hold it, by a
# process named olad of user olad, locked, its pid in a UUCP lock file.
# Inside its sandbox tivgate still names the holder and olad's plugin files.
# The stock olad may have the port already, or take it first: the stand-in
# tries until one of them holds it. A port not yet held after a minute, which
# a loaded TCG guest may need, says nothing of tivgate and is told apart.
st=0; guest 150 "mkdir -p /etc/tivgate && cp /usr/share/doc/tivlink/tivgate/patch.example.toml /etc/tivgate/patch.toml
  echo 'TIVGATE_OPTIONS=\"--device $byid\"' >/etc/default/tivgate
  cp /usr/bin/flock /usr/local/bin/olad
  until runuser -u olad -- olad -o /dev/ttyUSB0 sh -c 'echo \$PPID >/run/lock/LCK..ttyUSB0; exec sleep 600'; do sleep 0.5; done </dev/null >/dev/null 2>&1 &
  holder=\$!
  for i in \$(seq 600); do [ -s /run/lock/LCK..ttyUSB0 ] && break; sleep 0.1; done
  if [ -s /run/lock/LCK..ttyUSB0 ]; then
    since=\$(date +%s%6N); systemctl start tivgate; await_log 'held by process' 60 \$since; systemctl stop tivgate
    kill \$holder \$(cat /run/lock/LCK..ttyUSB0)
  else
    kill \$holder
    echo @@noholder
  fi
  pkill -u olad -x sleep; rm -rf /etc/tivgate /etc/default/tivgate /run/lock/LCK..ttyUSB0 /usr/local/bin/olad" || st=$?
if grep -q '^@@noholder' <<<"$out"; then
  fail "the port held as the stock olad holds it: the stand-in holder had not taken the port after 60 s, so tivgate was not tried: $out"
elif grep -q 'held by process [0-9]* (olad)' <<<"$out" && grep -q 'ola-usbserial.conf' <<<"$out"; then
  pass "the port held as the stock olad holds it: tivgate names $(grep -o 'process [0-9]* (olad)' <<<"$out") and olad's plugin files"
else
  fail "the port held as the stock olad holds it: tivgate did not name it: $out"
fi

# The administrator's steps: the shell blocks of docs/gateway.md's "Install on
# a Debian system", in order, run as root as they are written.
awk -v dir="$work" '/^## / { on = ($0 == "## Install on a Debian system") }
  on && /^```/ { if (inside) inside = 0; else if ($0 == "```sh") { inside = 1; n++ }; next }
  on && inside { print > (dir "/step" n ".sh") }' "$repo/docs/gateway.md"
[ -s "$work/step3.sh" ] || { echo "system: docs/gateway.md gives no three steps to install"; exit 1; }
bus_before_steps=$(grep -cE '^ +[0-9.]+ ms' "$work/bus.log" || true)
# The first day's tivgate may have reached olad too: only this start's line counts.
st=0; guest 120 "date +%s%6N >/run/tivtest-steps; $(cat "$work/step1.sh" "$work/step2.sh")" || st=$?
steps_out=$out
# The status line may follow READY by a moment: it is renewed every 5 s.
guest 20 'for i in $(seq 60); do [ -n "$(show StatusText)" ] && break; sleep 0.1; done
  for p in ActiveState SubState Type FragmentPath DropInPaths MainPID; do echo "$p=$(show $p)"; done
  systemctl status tivgate --no-pager | grep "Status:"' || true
state=$out
if [ "$st" -eq 0 ] && grep -qx 'SubState=running' <<<"$state" && grep -qx 'Type=notify' <<<"$state" &&
   grep -qx 'FragmentPath=\(/usr\)\?/lib/systemd/system/tivgate.service' <<<"$state" && grep -qx 'DropInPaths=' <<<"$state" &&
   grep -q 'Status: "' <<<"$state"; then
  pass "the steps as written: tivgate.service active (running), Type=notify, the package's unit as shipped; $(grep 'Status:' <<<"$state" | sed 's/^ *//')"
else
  fail "the steps as written (status $st): $steps_out / $state"
fi
pid=$(sed -n 's/^MainPID=//p' <<<"$state")

# A first look, once tivgate has olad: frame for frame on the bus, nothing else.
st=0; guest 30 'await_log "connected to olad" 25 "$(cat /run/tivtest-steps)"' || st=$?
mark=$(bus_size)
guest 20 "$(cat "$work/step3.sh")" || true
step3_out=$out
frame=$(grep -o -- '-d [0-9,]*' "$work/step3.sh" | cut -c4-)
expect "$frame" 1 5
if [ "$st" -eq 0 ] && await_looks "$mark" 10 "${current[@]}" && sleep 0.5 && [ -z "$(broken_looks "$mark")" ] &&
   [ "$(tail -c +$((mark + 1)) "$work/bus.log" | grep -cE '^ +[0-9.]+ ms')" -eq 6 ]; then
  pass "through ftdi_sio: a look per device on the host's bus, 6 frames byte for byte, nothing else, $(secs "$look_ms") s after the DMX frame"
else
  fail "the first look on the host's bus ('connected to olad' $([ "$st" -eq 0 ] && echo seen || echo "not seen in 25 s"), step 3 said '$step3_out'): $(tail -c +$((mark + 1)) "$work/bus.log" | head -n 12)"
fi
echo "note: before the steps, the stock olad had sent $bus_before_steps items to the adapter"

# The unit's sandbox as systemd-analyze rates it: at most 1.5.
check_exposure() {
  local st=0 exposure
  guest 60 "systemd-analyze security $1" || st=$?
  exposure=$(sed -n "s/.*Overall exposure level for $1: \([0-9.]*\).*/\1/p" <<<"$out")
  if [ -n "$exposure" ] && awk -v x="$exposure" 'BEGIN { exit !(x <= 1.5) }'; then
    pass "systemd-analyze security $1: $exposure (at most 1.5)"
  else
    fail "systemd-analyze security $1: ${exposure:-no figure} (at most 1.5, status $st): $(tail -n 3 <<<"$out")"
  fi
}

st=0; guest 20 "tivctl ports; echo; readlink -f $byid" || st=$?
tty=$(tail -n 1 <<<"$out")
if [ "$st" -eq 0 ] && grep -qE "^$tty +- +ftdi_sio +0403:6001" <<<"$out" && grep -qE "^ +$byid\$" <<<"$out" &&
   grep -qE '^/dev/ttyS1 ' <<<"$out"; then
  pass "tivctl ports: $tty (ftdi_sio) under its by-id name $byid; the 16550A on ttyS1 listed"
else
  fail "tivctl ports: $out"
fi

check_exposure tivgate.service
echo "$out" | grep '✗' | sed 's/^/  /' >"$work/exposed.txt" || true

# The status page's metrics from inside the sandbox, where a browser or Prometheus on the host would ask.
st=0; guest 30 'curl -sS --max-time 10 http://127.0.0.1:9011/metrics' || st=$?
[ "$st" -eq 0 ] && grep -qx 'tivgate_line_up 1' <<<"$out" && grep -qx 'tivgate_olad_connected 1' <<<"$out" &&
  pass "curl http://127.0.0.1:9011/metrics under the hardened unit: line up, olad connected" ||
  fail "curl http://127.0.0.1:9011/metrics (status $st): $(head -c 600 <<<"$out")"

# From here on DMX flows as from a console: the feeder repeats the current frame at 10 Hz.
guest 20 "dmx $frame; systemd-run --unit=tivtest-dmx --quiet sh -c 'while sleep 0.1; do cat /run/tivtest-dmx; done | ola_streaming_client -u 1'" || true

# Hot-plug: the adapter pulled mid-run and put back, three times. While it is
# away device 1's slots change and device 2's do not: both must come back.
lost_figures=() back_figures=() add_figures=()
for round in 1 2 3; do
  send 20 'await_log "bus lost" 10'
  wait_for @@watching 10 || true
  t0=$(ms_now)
  qmp '{"execute":"device_del","arguments":{"id":"usbser0"}}' || echo "note: device_del: $line"
  if wait_for @@seen 8; then lost_ms=$(($(ms_now) - t0)); else lost_ms=; fi
  answer 10 || true
  seen=$out
  guest 10 'for p in ActiveState MainPID; do echo "$p=$(show $p)"; done' || true
  if [ -n "$lost_ms" ] && [ "$lost_ms" -le 2000 ] && grep -qx 'ActiveState=active' <<<"$out" &&
     grep -qx "MainPID=$pid" <<<"$out"; then
    lost_figures+=("$(secs "$lost_ms")")
    pass "unplug $round: 'bus lost' in the journal $(secs "$lost_ms") s after device_del (at most 2), the service up, same process"
  else
    fail "unplug $round: ${lost_ms:+after $lost_ms ms }no 'bus lost' within 2 s, or the service went: $seen / $out"
  fi

  frame="$((40 * round)),$((250 - 40 * round)),$round,0,${frame#*,*,*,*,}"
  mark=$(bus_size)
  send 20 "dmx $frame
    for i in \$(seq 100); do [ -e $byid ] || break; sleep 0.05; done; echo @@gone
    for i in \$(seq 300); do [ -e $byid ] && break; sleep 0.05; done; echo \"@@back \$(readlink -f $byid)\""
  wait_for @@gone 10 || true
  expect "$frame" 1 5
  t0=$(ms_now)
  qmp "{\"execute\":\"device_add\",\"arguments\":{$adapter}}" || echo "note: device_add: $line"
  # Both clocks run from device_add: the link's return, seen by the guest, and the looks, seen here.
  back_ms= look_ms= tty=
  while [ "$(ms_now)" -lt $((t0 + 15000)) ]; do
    if [ -z "$back_ms" ] && line=$(tail -c +$((from + 1)) "$work/shell.log" | grep -m1 '^@@back'); then
      back_ms=$(($(ms_now) - t0)) tty=${line#@@back }
    fi
    [ -z "$look_ms" ] && looks_since "$mark" "${current[@]}" && look_ms=$(($(ms_now) - t0))
    [ -n "$back_ms" ] && [ -n "$look_ms" ] && break
    sleep 0.05
  done
  answer 5 || true
  if [ -n "$back_ms" ] && [ -n "$look_ms" ] && [ $((look_ms - back_ms)) -le 3000 ]; then
    back_figures+=("$(secs $((look_ms > back_ms ? look_ms - back_ms : 0)))") add_figures+=("$(secs "$look_ms")")
    pass "replug $round: back as $tty behind the by-id name; both devices' current looks on the bus $(secs $((look_ms > back_ms ? look_ms - back_ms : 0))) s after the link returned (at most 3), $(secs "$look_ms") s after device_add"
  else
    fail "replug $round: link back after ${back_ms:-no} ms as ${tty:-?}, the current looks after ${look_ms:-no} ms (at most 3 s after the link): $(tail -c +$((mark + 1)) "$work/bus.log" | tail -n 6)"
  fi
done

# Reload: the two devices' slots swapped take effect at once; a broken patch
# is refused and the service runs on.
mark=$(bus_size)
st=0; guest 30 'cp /etc/tivgate/patch.toml /run/patch.toml.orig
  sed -i "s/^channel = 1\$/channel = 0/; s/^channel = 5\$/channel = 1/; s/^channel = 0\$/channel = 5/" /etc/tivgate/patch.toml
  since=$(date +%s%6N); systemctl reload tivgate && await_log "reloaded" 10 "$since"' || st=$?
expect "$frame" 5 1
if [ "$st" -eq 0 ] && await_looks "$mark" 3 "${current[@]}"; then
  pass "systemctl reload with the devices' slots swapped: '$(sed -n 's/.*\(patch .* reloaded\).*/\1/p' <<<"$out")', both new looks on the bus $(secs "$look_ms") s later"
else
  fail "systemctl reload with a changed patch: $out"
fi
st=0; guest 30 'printf "universe = 1\n[[fixture]]\naddress = \"one\"\n" >/etc/tivgate/patch.toml
  since=$(date +%s%6N); systemctl reload tivgate && await_log "keeping the running patch" 10 "$since"
  sleep 1; echo "ActiveState=$(show ActiveState) MainPID=$(show MainPID)"
  cp /run/patch.toml.orig /etc/tivgate/patch.toml' || st=$?
if [ "$st" -eq 0 ] && grep -q 'patch.toml:3' <<<"$out" && grep -q "ActiveState=active MainPID=$pid\$" <<<"$out"; then
  pass "systemctl reload with a broken patch: $(sed -n 's/^@@seen [^ ]* [^ ]* [^ ]* //p' <<<"$out"); still active, same process"
else
  fail "systemctl reload with a broken patch: $out"
fi

# The watchdog: the whole process stopped for longer than WatchdogSec. The
# patch is the first one again, so the looks come back as at the start.
mark=$(bus_size)
st=0; guest 60 'kill -STOP "$(show MainPID)"; start=$SECONDS
  until [ "$(show MainPID)" != '"$pid"' ] && [ "$(show ActiveState)" = active ]; do
    [ $((SECONDS - start)) -lt 50 ] || exit 1; sleep 0.2
  done
  echo "@@restarted after $((SECONDS - start)) s, NRestarts=$(show NRestarts), MainPID=$(show MainPID)"
  journalctl -u tivgate -o cat | grep -m1 "Watchdog timeout"' || st=$?
expect "$frame" 1 5
if [ "$st" -eq 0 ] && grep -q 'Watchdog timeout' <<<"$out" && await_looks "$mark" 10 "${current[@]}"; then
  pass "SIGSTOP past WatchdogSec: systemd saw the watchdog time out and restarted tivgate $(sed -n 's/^@@restarted \(after [0-9]* s\).*/\1/p' <<<"$out"); the current looks back on the bus"
else
  fail "SIGSTOP past WatchdogSec: $out"
fi
pid=$(sed -n 's/.*MainPID=//p' <<<"$out")

# Stop while the slots keep changing, so that a look is in hand: it ends
# whole and the port closes; the journal has each of tivgate's lines once.
mark=$(bus_size)
st=0; guest 40 "inv=\$(show InvocationID)
  for i in \$(seq 40); do dmx \$i,1,2,3,\$i,4,5,6; sleep 0.05; done &
  sleep 0.6; systemctl stop tivgate; wait
  echo \"Result=\$(show Result) ExecMainStatus=\$(show ExecMainStatus)\"
  journalctl _SYSTEMD_INVOCATION_ID=\$inv -o cat >/run/own.txt
  echo \"sigterm=\$(grep -c 'SIGTERM: finishing the look in hand' /run/own.txt) closed=\$(grep -c 'port closed' /run/own.txt) last=\$(tail -n 1 /run/own.txt)\"
  echo \"twice=\$(sort /run/own.txt | uniq -d | head -n 3)\"" || st=$?
sleep 0.5
broken=$(broken_looks "$mark")
looks=$(($(tail -c +$((mark + 1)) "$work/bus.log" | grep -cE '^ +[0-9.]+ ms' || true) / 3))
if [ "$st" -eq 0 ] && grep -q 'Result=success ExecMainStatus=0' <<<"$out" && grep -q 'sigterm=1 closed=1 last=.*port closed' <<<"$out" &&
   grep -qx 'twice=' <<<"$out" && [ -z "$broken" ] && [ "$looks" -gt 0 ]; then
  pass "systemctl stop: exit 0, 'SIGTERM: finishing the look in hand' and 'port closed' once each and last, no line twice; $looks looks sent while it changed, every one whole"
else
  fail "systemctl stop: $out ${broken:+; broken looks: $broken}"
fi

# No port named: exit 2 with the reason, and no restart once RestartSec has passed.
st=0; guest 40 'mv /etc/default/tivgate /run/tivgate.default; systemctl start tivgate; sleep 7
  echo "ActiveState=$(show ActiveState) ExecMainStatus=$(show ExecMainStatus) NRestarts=$(show NRestarts)"
  journalctl _SYSTEMD_INVOCATION_ID=$(show InvocationID) -o cat | tail -n 1' || st=$?
if grep -q 'ActiveState=failed ExecMainStatus=2 NRestarts=0' <<<"$out"; then
  pass "no port in /etc/default/tivgate: exit 2, not restarted; the journal says: $(tail -n 1 <<<"$out")"
else
  fail "no port in /etc/default/tivgate: $out"
fi

# --- Two buses, two instances ---------------------------------------------------
# tivgate@a on the adapter drives universe 1, tivgate@b on the 16550A
# (ttyS1) universe 2. b's control socket belongs to the group "lighting"
# (Group= in a drop-in), which "installer" is in and "outsider" is not.
expect "$frame" 1 5
frame2=16,32,48,64,80,96,112,128
mark=$(bus_size) mark2=$(bus_log=$work/bus2.log bus_size)
st=0; guest 90 "cp /etc/tivgate/patch.toml /etc/tivgate/a.toml
  sed 's/^universe = 1\$/universe = 2/; s/^address = 0x01/address = 0x02/' /etc/tivgate/patch.toml >/etc/tivgate/b.toml
  mv /run/tivgate.default /etc/default/tivgate-a
  echo 'TIVGATE_OPTIONS=\"--device /dev/ttyS1\"' >/etc/default/tivgate-b
  groupadd lighting && useradd -M -G lighting installer && useradd -M outsider
  mkdir -p /etc/systemd/system/tivgate@b.service.d
  printf '[Service]\nGroup=lighting\n' >/etc/systemd/system/tivgate@b.service.d/group.conf
  dmx $frame; echo $frame2 >/run/tivtest-dmx2
  systemd-run --unit=tivtest-dmx2 --quiet sh -c 'while sleep 0.1; do cat /run/tivtest-dmx2; done | ola_streaming_client -u 2'
  systemctl daemon-reload && systemctl start tivgate@a tivgate@b
  for u in a b; do echo \"@@\$u \$(systemctl is-active tivgate@\$u) \$(stat -c '%a %G' /run/tivgate/\$u/control.sock)\"; done
  echo \"@@pid \$(systemctl show tivgate@b -p MainPID --value)\"
  runuser -u installer -- tivctl --gateway b status >/dev/null && echo @@installer-in
  runuser -u outsider -- tivctl --gateway b status 2>&1 | tail -n 1
  tivctl identify 0x010001 2>&1 || true" || st=$?
instances=$out
b_pid=$(sed -n 's/^@@pid //p' <<<"$instances")
a_ms= b_ms=
await_looks "$mark" 30 "${current[@]}" && a_ms=$look_ms
bus_log=$work/bus2.log await_looks "$mark2" 30 0x020001 "10 20 30 40" 0x020002 "50 60 70 80" && b_ms=$look_ms
if [ "$st" -eq 0 ] && grep -q '^@@a active 660 ' <<<"$instances" && grep -q '^@@b active 660 lighting$' <<<"$instances" &&
   [ -n "$a_ms" ] && [ -n "$b_ms" ]; then
  pass "tivgate@a (adapter, universe 1) and tivgate@b (ttyS1, universe 2) active; each bus shows its universe's looks ($(secs "$a_ms") s, $(secs "$b_ms") s)"
else
  fail "two instances (status $st, looks on the adapter's bus ${a_ms:-not} seen, on ttyS1's ${b_ms:-not} seen): $instances"
fi
if grep -q '^@@installer-in$' <<<"$instances" && grep -q 'admits its owner and group lighting only' <<<"$instances" &&
   grep -q 'several tivgates run (a, b): choose one with --gateway NAME' <<<"$instances"; then
  pass "control sockets: b's 0660 of group lighting, installer asks, outsider is refused; without --gateway tivctl asks which of a, b"
else
  fail "control sockets: $instances"
fi

check_exposure tivgate@a.service

# identify through b's socket: the white look on ttyS1's bus only. The time
# runs from the host's send, the guest shell's round trip included, to the
# look's first frame: its second, the first with the colour, less the gap
# between the two on the bus.
mark=$(bus_size) mark2=$(bus_log=$work/bus2.log bus_size)
t0=$(ms_now) identify_ms=
send 20 'tivctl --gateway b identify 0x020001 --seconds 3'
until [ -n "$identify_ms" ] || [ "$(ms_now)" -gt $((t0 + 15000)) ]; do
  if pair=$(tail -c +$((mark2 + 1)) "$work/bus2.log" | grep -B1 -m1 '0x020001  len 5    LIGHT (7E)  04 FF FF FF FF'); then
    identify_ms=$(($(ms_now) - t0 - $(awk 'NR == 1 { a = $1 } NR == 2 { printf "%d", $1 - a }' <<<"$pair")))
  fi
  sleep 0.02
done
answer 10 || true
said=$out
sleep 1
if [ -n "$identify_ms" ] && grep -q '"kind":"identify","target":"0x020001"' <<<"$said" &&
   bus_log=$work/bus2.log looks_since "$mark2" 0x020001 "FF FF FF FF" && ! looks_since "$mark" 0x010001 "FF FF FF FF"; then
  pass "tivctl --gateway b identify 0x020001: it blinks on ttyS1's bus, nothing on the adapter's; its first frame $(secs "$identify_ms") s after the host sent the command"
else
  fail "tivctl --gateway b identify (first frame after ${identify_ms:-never} ms): $said / $(tail -c +$((mark2 + 1)) "$work/bus2.log" | head -n 6)"
fi

# The adapter unplugged: a waits for it, b's bus stays lit and follows DMX.
send 20 'unit=tivgate@a.service; await_log "bus lost" 15'
wait_for @@watching 10 || true
qmp '{"execute":"device_del","arguments":{"id":"usbser0"}}' || echo "note: device_del: $line"
answer 20 || true
lost=$out
frame2=200,100,50,25,80,96,112,128
mark2=$(bus_log=$work/bus2.log bus_size)
guest 20 "echo $frame2 >/run/tivtest-dmx2; for u in a b; do echo \"@@\$u \$(systemctl is-active tivgate@\$u) \$(systemctl show tivgate@\$u -p MainPID --value)\"; done" || true
if grep -q '@@seen .*bus lost' <<<"$lost" && grep -q '^@@a active ' <<<"$out" && grep -q "^@@b active $b_pid\$" <<<"$out" &&
   bus_log=$work/bus2.log await_looks "$mark2" 10 0x020001 "C8 64 32 19"; then
  pass "the adapter unplugged: tivgate@a says 'bus lost' and waits, tivgate@b runs on (same process) and its bus follows DMX ($(secs "$look_ms") s)"
else
  fail "the adapter unplugged: $lost / $out / $(tail -c +$((mark2 + 1)) "$work/bus2.log" | tail -n 3)"
fi

# --- The end -------------------------------------------------------------------
if [ "$failed" -gt 0 ]; then
  guest 30 'journalctl -b -u tivgate -u "tivgate@*" -u olad -o short-monotonic --no-pager | grep -v -e Avahi -e HotplugAgent | tail -n 80' || true
  echo "--- the guest's journal, tivgate and olad ---"; echo "$out"
fi
send 10 'systemctl poweroff'
for _ in $(seq 300); do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.1; done
echo "system: figures: root filesystem $(secs "$rootfs_ms") s (${how%%,*}), boot $(secs "$boot_ms") s," \
  "unplug noticed after ${lost_figures[*]:-?} s, the current look back ${back_figures[*]:-?} s after the by-id link" \
  "(${add_figures[*]:-?} s after device_add), tivctl identify to its first frame ${identify_ms:+$(secs "$identify_ms") }s" \
  "from the host (shell included)," \
  "whole stage $(secs $(( (${EPOCHREALTIME/./} - stage_start) / 1000 ))) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
