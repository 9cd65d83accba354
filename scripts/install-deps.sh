#!/usr/bin/env bash
# Installs what tivlink needs on Debian 12, as root: `demo` only what
# building the library and its tools takes; without an argument everything
# the tests, the Windows build and the packages take as well.
# A second run finds everything in place and installs nothing.
# Usage: install-deps.sh [demo]
set -euo pipefail

packages=(build-essential cmake libcli11-dev)
if [ "${1:-}" != demo ]; then
  packages+=(
    git pkg-config dpkg-dev file
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686
    python3 python3-serial python3-pytest
    clang llvm valgrind
    wine wine32:i386
    qemu-system-x86 linux-image-amd64 busybox-static cpio  # tests/uart: a guest with real serial drivers
    mmdebstrap e2fsprogs socat  # tests/system: a Debian guest with systemd, built and driven from here
    ola libola-dev libtomlplusplus-dev libsystemd-dev iproute2  # tivgate and its tests
    scdoc lintian bash-completion man-db  # manual pages and the Debian packages
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
