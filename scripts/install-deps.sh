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
    qemu-system-x86 linux-image-amd64 busybox-static cpio  # tests/uart: a guest with real serial drivers
    mmdebstrap e2fsprogs socat  # tests/system: a Debian guest with systemd, built and driven from here
    ola libola-dev libtomlplusplus-dev libsystemd-dev libmicrohttpd-dev iproute2  # tivgate and its tests,
    chromium python3-pil prometheus  # its status page and metrics, seen by a real browser and scraper
    scdoc lintian bash-completion man-db  # manual pages and the Debian packages
    python3-venv python3-pip python3-setuptools python3-wheel  # the binding's wheel in a venv
    g++-aarch64-linux-gnu g++-arm-linux-gnueabihf  # tests/arm: cross builds,
    qemu-user-static qemu-system-arm               # run under emulation
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -ne 0 ]; then
  echo "installing: ${missing[*]}"
  # A mirror caught mid-sync fails one index; a second try usually finds it
  # whole, and the indexes at hand still serve what they list.
  for try in 1 2 3; do
    $SUDO apt-get update -qq && break
    if [ $try -eq 3 ]; then echo "apt-get update failed 3 times; installing from the indexes at hand"; else sleep 10; fi
  done
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # The gateway test runs a Prometheus of its own, in a network namespace;
  # the package's service, which it starts on every address, is not wanted.
  if [[ " ${missing[*]} " == *" prometheus "* ]] && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now prometheus >/dev/null 2>&1 || true
  fi
fi

# Other architectures' packages live in roots of their own, not beside the
# amd64 ones: Wine's i386 root (scripts/wine-deps.sh) and, per ARM
# architecture, the libraries, a kernel and busybox (scripts/arm-deps.sh).
if [ "${1:-}" != demo ]; then
  for arch in arm64 armhf; do
    $SUDO bash "$(dirname "$0")/arm-deps.sh" "$arch"
  done
  $SUDO bash "$(dirname "$0")/wine-deps.sh"
fi
