#!/usr/bin/env bash
# A Wine of its own for tests/wine: an i386 Debian 12 root with wine32 in
# /opt/tivlink-wine (or DIR), built by mmdebstrap from the i386 indexes alone,
# in which tests/wine/run.sh runs Wine with chroot. Where the kernel runs no
# i386 programs, they go through QEMU (scripts/i386-emulation.sh), for
# mmdebstrap's dpkg as for Wine. wine32:i386 is not
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

bash "$(dirname "$0")/i386-emulation.sh"
echo "wine-deps: building an i386 root with Wine in $dir"
start=$(date +%s)
# essential: no apt inside, which the tests never call. No recommends
# (mmdebstrap's default): a console program with no display needs none.
# i386-emulation.sh has made i386 programs run: mmdebstrap need not check.
bash "$(dirname "$0")/debian-root.sh" i386 "$dir" \
  --variant=essential --mode=root --format=directory --skip=check/qemu --include=wine,wine32
echo "wine-deps: $dir built in $(($(date +%s) - start)) s, $(du -sm "$dir" | cut -f1) MiB"
# Last, so that an interrupted build starts again.
echo "$stamp" >"$dir/stamp"
