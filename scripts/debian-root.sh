#!/usr/bin/env bash
# A Debian 12 root of another architecture in DIR, built by mmdebstrap from
# that architecture's own indexes (scripts/arm-deps.sh, scripts/wine-deps.sh).
# bookworm-security is taken where its index for ARCH can be had; a mirror in
# mid-sync serves one that fails its checksum, and then the root comes from
# bookworm and bookworm-updates alone, with a line that says why. Any other
# failure ends it with mmdebstrap's last lines.
# Usage: debian-root.sh ARCH DIR MMDEBSTRAP_OPTION...   (as root)
set -euo pipefail
arch=${1:?usage: debian-root.sh ARCH DIR MMDEBSTRAP_OPTION...} dir=${2:?usage: debian-root.sh ARCH DIR MMDEBSTRAP_OPTION...}
shift 2
options=("$@")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# In a mount namespace of its own, the /proc, /sys and /dev mmdebstrap mounts
# in the root end with it, even when it is killed: none is left for rm -rf.
build() {
  rm -rf --one-file-system "$dir"
  unshare -m --propagation private mmdebstrap --arch="$arch" "${options[@]}" bookworm "$dir" \
    "deb http://deb.debian.org/debian bookworm main" \
    "deb http://deb.debian.org/debian bookworm-updates main" "$@" >"$log" 2>&1
}
if ! build "deb http://deb.debian.org/debian-security bookworm-security main"; then
  why=$(sed -n 's/^E: Failed to fetch \(http[^ ]*debian-security[^ ]*\) *\(.*\)/\1: \2/p' "$log" | sed 's/ \[IP: .*//' | head -n1)
  if [ -z "$why" ]; then tail -n 40 "$log" >&2; exit 1; fi
  echo "debian-root: $arch without bookworm-security, whose $arch index cannot be had: $why"
  build || { tail -n 40 "$log" >&2; exit 1; }
fi
