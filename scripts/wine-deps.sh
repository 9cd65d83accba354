#!/usr/bin/env bash
# A Wine of its own for tests/wine: an i386 Debian 12 root with wine32 in
# /opt/tivlink-wine (or DIR), built by mmdebstrap from the i386 indexes alone,
# in which tests/wine/run.sh runs Wine with chroot. wine32:i386 is not
# installed beside the amd64 packages: when the archive's indexes of the two
# architectures come from different snapshots, the Multi-Arch: same
# libraries it needs cannot have one version in both, and apt gives up.
# Run as root. A second run with the same script does nothing.
# Usage: wine-deps.sh [DIR]
set -euo pipefail
dir=$(realpath -m "${1:-/opt/tivlink-wine}")
stamp=$(sha256sum <"$0" | cut -d' ' -f1)
if [ "$(cat "$dir/stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

debian=("deb http://deb.debian.org/debian bookworm main"
        "deb http://deb.debian.org/debian bookworm-updates main")
security="deb http://deb.debian.org/debian-security bookworm-security main"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# essential: no apt inside, which the tests never call. No recommends
# (mmdebstrap's default): a console program with no display needs none. An
# amd64 kernel runs i386 programs itself: no emulator to check for. In a
# mount namespace of its own, the /proc, /sys and /dev it mounts in the root
# end with it, even when it is killed: none is left for rm -rf to descend.
build() {
  rm -rf --one-file-system "$dir"
  unshare -m --propagation private mmdebstrap --arch=i386 --variant=essential --mode=root --format=directory \
    --skip=check/qemu \
    --include=wine,wine32 \
    bookworm "$dir" "$@" >"$log" 2>&1
}

echo "wine-deps: building an i386 root with Wine in $dir"
start=$(date +%s)
if ! build "${debian[@]}" "$security"; then
  # A mirror mid-sync can serve an i386 security index that does not match
  # its InRelease; bookworm alone still has a Wine that runs the tests.
  why=$(sed -n 's/^E: Failed to fetch \(http[^ ]*debian-security[^ ]*\) *\(.*\)/\1: \2/p' "$log" | sed 's/ \[IP: .*//' | head -n1)
  if [ -z "$why" ]; then tail -n 40 "$log"; exit 1; fi
  echo "wine-deps: building without bookworm-security, whose i386 index cannot be had: $why"
  build "${debian[@]}" || { tail -n 40 "$log"; exit 1; }
fi
echo "wine-deps: $dir built in $(($(date +%s) - start)) s, $(du -sm "$dir" | cut -f1) MiB"
# Last, so that an interrupted build starts again.
echo "$stamp" >"$dir/stamp"
