#!/usr/bin/env bash
# The ARM stage for one architecture, from the tree as it stands:
#  1. the Debian packages, cross-built and lintian-checked
#     (scripts/build-debs.sh --arch), in a tree configured with the tests,
#     which are then built there with the same flags;
#  2. under qemu-user, the tests that open no terminal (qemu-user lacks the
#     termios2 calls, so every port open fails there);
#  3. every test in a QEMU system guest (arm64: virt with cortex-a72 and
#     Debian's arm64 kernel; armhf: cortex-a15 and armmp-lpae), booted from a
#     busybox initramfs holding the tree at its own paths, without any
#     network device.
# Tests that fail only because emulation is slow are named, with the reason,
# in tests/arm/left-out; both runs leave them out and say so. Ends with
# "N passed, M failed" over both runs.
# Usage: tests/arm/run.sh arm64|armhf   (as root: qemu-user needs binfmt)
# TIVLINK_ARM_KEEP=1 keeps the work folder (initramfs, console log) and
# prints where it is.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
arch=${1:?usage: tests/arm/run.sh arm64|armhf}
case $arch in
  arm64) qemu=qemu-system-aarch64 machine=(-M virt -cpu cortex-a72) binfmt=aarch64 ;;
  armhf) qemu=qemu-system-arm machine=(-M virt -cpu cortex-a15) binfmt=arm ;;
  *) echo "arm: no such architecture: $arch (arm64 or armhf)" >&2; exit 2 ;;
esac
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
deps=${TIVLINK_ARM_DEPS:-/opt/tivlink-arm/$arch}
build=$repo/build/deb-$arch
left_out=$repo/tests/arm/left-out
jobs=$(nproc)
guest_budget=900  # seconds for the guest's boot and every test; a run takes far less

[ -s "$deps/vmlinuz" ] && [ -d "$deps/root" ] ||
  { echo "arm: $deps lacks the $arch libraries or the guest's kernel: run scripts/install-deps.sh" >&2; exit 1; }
# Where qemu-user finds the target's loader and libraries, for the tests and
# for the programs they start.
export QEMU_LD_PREFIX=$deps/root
work=$(mktemp -d /tmp/tivlink-arm.XXXXXX)
trap 'if [ -n "${TIVLINK_ARM_KEEP:-}" ]; then echo "arm $arch: kept $work"; else rm -rf "$work"; fi' EXIT
stage_start=$(date +%s)
elapsed() { echo "$(($(date +%s) - $1)) s"; }

# 1. Packages and tests from one tree.
start=$(date +%s)
nice -n 5 bash scripts/build-debs.sh --arch "$arch" --tests "$build" >"$work/debs.txt"
nice -n 5 cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
echo "arm $arch: $(grep -c '\.deb$' "$work/debs.txt") packages and the tests built in $(elapsed "$start")"

# The tests start tivctl and tivsim as programs of their own, which the
# kernel runs through qemu-user only once binfmt knows it.
binfmt_dir=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt_dir/qemu-$binfmt" ]; then
  [ -e "$binfmt_dir/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt_dir"
  grep -v '^#' "/usr/lib/binfmt.d/qemu-$binfmt.conf" | grep . >"$binfmt_dir/register"
fi

# 2. qemu-user. ctest lists the tests through the emulator too (PRE_TEST).
start=$(date +%s)
exclude=$(sed 's/#.*//' "$left_out" | awk -v arch="$arch" '$1 == arch { printf "%s^%s$", sep, $2; sep = "|" }' |
          sed 's/\./\\./g')
user_status=0
ctest --test-dir "$build" -j "$jobs" --repeat until-pass:2 -LE '^(tty|long)$' ${exclude:+-E "$exclude"} --output-on-failure \
  >"$work/user.log" 2>&1 || user_status=$?
user_line=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$work/user.log" || true)
[ -n "$user_line" ] || { cat "$work/user.log"; echo "arm $arch: ctest under qemu-user ran nothing"; exit 1; }
[ "$user_status" -eq 0 ] || sed -n '/The following tests FAILED/,$p;/Output:/,/^$/p' "$work/user.log"
user_total=$(echo "$user_line" | sed -E 's/.* out of ([0-9]+).*/\1/')
user_failed=$(echo "$user_line" | sed -E 's/.*, ([0-9]+) tests? failed.*/\1/')
all=$(ctest --test-dir "$build" -N | sed -n 's/^Total Tests: //p')
echo "arm $arch: qemu-user: $user_total run, $((user_total - user_failed)) passed, $user_failed failed;" \
     "$((all - user_total)) left to the guest (labels tty and long: they open terminals)" \
     "in $(elapsed "$start")"

# 3. The system guest.
start=$(date +%s)
ctest --test-dir "$build" --show-only=json-v1 >"$work/tests.json"
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,usr/lib/"$multiarch"}
ln -s usr/lib "$root/lib"
cp "$deps/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
install -m 755 tests/arm/init.sh "$root/init"
# Debian's own users and groups, which the tests' messages name.
mkdir "$root/etc"
cp /usr/share/base-passwd/passwd.master "$root/etc/passwd"
cp /usr/share/base-passwd/group.master "$root/etc/group"
echo "$jobs" >"$root/jobs"
/usr/bin/python3 scripts/guest-suite.py list "$arch" "$work/tests.json" "$left_out" "$root/tests.list"
# The tree's programs and libraries at their own paths, stripped; the
# sources the tests read (the fuzz inputs).
strip=$multiarch-strip
elves=()
while IFS= read -r f; do
  file -b "$f" | grep -q '^ELF' || continue
  mkdir -p "$root$(dirname "$f")"
  $strip -o "$root$f" "$f"
  elves+=("$f")
done < <(find "$build" -path "$build/packages" -prune -o -path '*/CMakeFiles' -prune -o -type f -perm -u+x -print)
cp -P "$build/libtivlink.so.1" "$root$build/"
mkdir -p "$root$repo"
cp -r fuzz "$root$repo/"
# Each test's working folder.
cut -f2 "$root/tests.list" | sort -u | while read -r d; do mkdir -p "$root$d"; done
# The libraries they need, from the root scripts/arm-deps.sh made, found
# through their NEEDED entries, and the loader.
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
queue=("${elves[@]}") seen=" "
while [ ${#queue[@]} -gt 0 ]; do
  f=${queue[0]} queue=("${queue[@]:1}")
  for lib in $(needed "$f"); do
    [[ $seen == *" $lib "* ]] && continue
    seen+="$lib "
    [[ $lib == libtivlink.so.* ]] && continue
    src=$deps/root/usr/lib/$multiarch/$lib
    [ -e "$src" ] || src=$deps/root/lib/$multiarch/$lib
    [ -e "$src" ] || { echo "arm: $lib, which $f needs, is not in $deps/root" >&2; exit 1; }
    cp -L "$src" "$root/usr/lib/$multiarch/$lib"
    queue+=("$src")
  done
done
loader=$(readelf -l "$build/tools/tivctl" | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p')
[ -e "$root$loader" ] || ln -s "$multiarch/$(basename "$loader")" "$root/usr/lib/$(basename "$loader")"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

# No network device: the console is the guest's only link.
status=0
timeout -k 10 "$guest_budget" "$qemu" "${machine[@]}" -smp "$jobs" -m 1024 -accel tcg,thread=multi \
  -nodefaults -nic none -display none -no-reboot -monitor none -serial "file:$work/console.log" \
  -kernel "$deps/vmlinuz" -initrd "$work/initramfs.gz" \
  -append "console=ttyAMA0 quiet loglevel=1 panic=-1 rdinit=/init" >"$work/qemu.log" 2>&1 || status=$?
if ! grep -q '^@done' "$work/console.log"; then
  echo "arm $arch: the guest did not finish (qemu status $status)"
  echo "--- guest console ---"; tail -n 50 "$work/console.log" || true
  echo "--- qemu ---"; cat "$work/qemu.log"
fi
grep '^@info' "$work/console.log" | sed "s/^@info /arm $arch: /" || true
guest_status=0
/usr/bin/python3 scripts/guest-suite.py report "$arch" "$work/tests.json" "$left_out" "$work/console.log" \
  >"$work/report.txt" || guest_status=$?
grep -v '^[0-9]* passed, [0-9]* failed$' "$work/report.txt" | sed "/^guest: /s/^/arm $arch: /"
guest_line=$(tail -n 1 "$work/report.txt")
guest_passed=${guest_line%% passed*}
guest_failed=$(echo "$guest_line" | sed -E 's/.*, ([0-9]+) failed/\1/')
echo "arm $arch: guest: $guest_line in $(elapsed "$start") (kernel $(cat "$deps/kernel-version"))"

echo "arm $arch: python.binding runs on amd64 only (ctest, and from a venv in scripts/test-install.sh):" \
     "the binding is pure Python, and the build machine's python3 cannot load an ARM library"
echo "arm $arch: stage took $(elapsed "$stage_start")"
echo "$((user_total - user_failed + guest_passed)) passed, $((user_failed + guest_failed)) failed"
[ "$user_status" -eq 0 ] && [ "$guest_status" -eq 0 ]
