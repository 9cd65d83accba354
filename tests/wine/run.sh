#!/usr/bin/env bash
# Runs the Wine tests: the Windows hosts of WINDOWS_BUILD under Wine, driven
# from LINUX_BUILD against the simulated bus, in a throw-away prefix.
# Wine comes from the i386 root that scripts/wine-deps.sh builds: the driver
# runs in a mount namespace of its own, where the root sees this system's
# /dev, /proc, /sys, /tmp and the two builds at their own paths, and `wine`,
# `wineboot` and `wineserver` are wrappers that chroot into it. The driver,
# tivctl and tivsim stay native. Where the kernel runs no i386 programs, Wine
# runs under QEMU (scripts/i386-emulation.sh registers it when it is missing,
# as after a reboot), and the run says so. Run as root.
# Usage: tests/wine/run.sh LINUX_BUILD WINDOWS_BUILD [gtest options]
set -euo pipefail
linux=$(realpath "$1") windows=$(realpath "$2")
shift 2
root=/opt/tivlink-wine

driver=$linux/tests/wine/driver/test_wine
missing=()
[ -x "$driver" ] || missing+=("$driver")
for exe in wine_host_by_name wine_host_import example_by_import example_by_name; do
  [ -f "$windows/tests/wine/$exe.exe" ] || missing+=("$windows/tests/wine/$exe.exe")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "wine: not built: ${missing[*]}"
  exit 1
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "wine: run as root: Wine runs in a chroot, in a mount namespace of its own"
  exit 1
fi
if [ ! -f "$root/stamp" ]; then
  echo "wine: no Wine root in $root: run scripts/install-deps.sh"
  exit 1
fi
# Once more in a private mount namespace: the mounts below end with it, and
# none reaches the host's mount table, however this script ends. Known by
# its id, not by a flag a caller's environment could carry in.
namespace=$(readlink /proc/self/ns/mnt)
if [ "${TIVLINK_WINE_OUTER_NAMESPACE:-$namespace}" = "$namespace" ]; then
  TIVLINK_WINE_OUTER_NAMESPACE=$namespace exec unshare -m --propagation private bash "$0" "$linux" "$windows" "$@"
fi
repo=$(cd "$(dirname "$0")/../.." && pwd)
bash "$repo/scripts/i386-emulation.sh" || { echo "wine: no way to run i386 programs here, so no Wine"; exit 1; }
# Every check and allowance stays as without emulation; the line says why a
# run is slower.
if grep -qx enabled /proc/sys/fs/binfmt_misc/tivlink-i386 2>/dev/null; then
  echo "wine: under emulation: i386 programs run under $(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/tivlink-i386)"
fi
# /dev whole, with its devpts: the driver's pseudo-terminals are the COM ports.
for dir in /dev /proc /sys /tmp "$linux" "$windows"; do
  mkdir -p "$root$dir"
  mount --rbind "$dir" "$root$dir"
done
# exec keeps the driver's child's pid, so its kills of the process group
# reach Wine. Inside, the root's own PATH: Wine's scripts find its programs
# there. A folder the root does not share (the caller's own) becomes /.
wrappers=$(mktemp -d /tmp/tivlink-wine-bin.XXXXXX)
trap 'rm -rf "$wrappers"' EXIT
for program in wine wineboot wineserver; do
  cat >"$wrappers/$program" <<EOF
#!/bin/sh
dir=\$(pwd -P)
[ -d "$root\$dir" ] || dir=/
exec chroot "$root" /usr/bin/env --chdir="\$dir" PATH=/usr/bin:/bin $program "\$@"
EOF
  chmod 755 "$wrappers/$program"
done
export PATH=$wrappers:$PATH

export TIVLINK_LINUX_BUILD=$linux TIVLINK_WINDOWS_BUILD=$windows
export TIVLINK_WINE_PREFIX=$windows/wine-prefix
# A server left by an earlier run that died would outlive its prefix.
[ -d "$TIVLINK_WINE_PREFIX" ] && { WINEPREFIX=$TIVLINK_WINE_PREFIX wineserver -k >/dev/null 2>&1 || true; }
rm -rf "$TIVLINK_WINE_PREFIX" "$windows/wine-work"
# The driver stops its wineserver; this is for a driver that died.
trap 'WINEPREFIX=$TIVLINK_WINE_PREFIX wineserver -k >/dev/null 2>&1 || true; rm -rf "$wrappers"' EXIT

log=$windows/wine-tests.log
start=$(date +%s)
status=0
timeout 900 "$driver" "$@" 2>&1 | tee "$log" || status=$?
passed=$(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' "$log" || true)
failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" || true)
skipped=$(grep -cE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log" || true)
# The hosts run under Wine beside the bus; on a loaded machine a frame can
# reach the bus late and a gap look off by a few milliseconds. A failed test
# runs once more: a fault of the library's own fails again, load rarely does.
if [ "$failed" -gt 0 ] && [ "$passed" -gt 0 ] && [ $# -eq 0 ]; then
  again=$(grep -E '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" | sed -E 's/^\[  FAILED  \] ([^, ]+).*/\1/' | paste -sd:)
  echo "wine: $failed failed; running them once more: $again"
  retry_log=$windows/wine-tests-retry.log
  status=0
  timeout 600 "$driver" --gtest_filter="$again" 2>&1 | tee "$retry_log" || status=$?
  failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$retry_log" || true)
  passed=$((passed + $(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' "$retry_log" || true)))
fi
echo "wine tests took $(($(date +%s) - start)) s, prefix included; log in $log"
echo "wine: $passed passed, $failed failed, $skipped skipped"
if [ "$status" -ne 0 ] || [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ]; then exit 1; fi
