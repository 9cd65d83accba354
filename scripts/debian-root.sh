#!/usr/bin/env bash
# A Debian 12 root of another architecture in DIR, built by mmdebstrap from
# that architecture's own indexes (scripts/arm-deps.sh, scripts/wine-deps.sh),
# from the archive the host's apt sources name (scripts/archive.sh).
# bookworm-security is taken where its index for ARCH can be had; a mirror in
# mid-sync serves one that fails its checksum, and then the root comes from
# bookworm and bookworm-updates alone, with a line that says why. Any other
# failure ends it with mmdebstrap's last lines.
# Usage: debian-root.sh ARCH DIR MMDEBSTRAP_OPTION...   (as root)
set -euo pipefail
arch=${1:?usage: debian-root.sh ARCH DIR MMDEBSTRAP_OPTION...} dir=${2:?usage: debian-root.sh ARCH DIR MMDEBSTRAP_OPTION...}
shift 2
options=("$@")
. "$(dirname "$0")/archive.sh"
mapfile -t base < <(archive_lines bookworm bookworm-updates)
[ ${#base[@]} -gt 0 ] || exit 1
mapfile -t security < <(archive_lines bookworm-security)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# In a mount namespace of its own, the /proc, /sys and /dev mmdebstrap mounts
# in the root end with it, even when it is killed: none is left for rm -rf.
build() {
  rm -rf --one-file-system "$dir"
  unshare -m --propagation private mmdebstrap --arch="$arch" "${options[@]}" bookworm "$dir" "${base[@]}" "$@" >"$log" 2>&1
}
if ! build "${security[@]}"; then
  why=
  if [ ${#security[@]} -gt 0 ]; then
    security_uri=$(archive_uri bookworm-security)
    why=$(grep -F "E: Failed to fetch $security_uri" "$log" | sed -e 's/^E: Failed to fetch \([^ ]*\) *\(.*\)/\1: \2/' -e 's/ \[IP: .*//' | head -n1)
  fi
  if [ -z "$why" ]; then tail -n 40 "$log" >&2; exit 1; fi
  echo "debian-root: $arch without bookworm-security, whose $arch index cannot be had: $why"
  build || { tail -n 40 "$log" >&2; exit 1; }
fi
