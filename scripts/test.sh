#!/usr/bin/env bash
# Installs what is missing, builds the Linux library and the Windows DLL, and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

bash scripts/check-exports.sh build/linux build/windows
bash scripts/check-windows-zip.sh build/windows
# A timing test that fails runs once more: a fault fails again, load rarely does.
ctest --preset linux -j "$jobs" --repeat until-pass:2
# tivgate through a private olad in a network namespace of its own.
bash tests/gateway/run.sh build/linux
# The DLL itself under Wine, against the simulated bus.
bash tests/wine/run.sh build/linux build/windows
# The library on real serial drivers: a 16550A and an FTDI adapter in a QEMU guest.
bash tests/uart/run.sh build/linux
# tivgate as users run it: the packages on a Debian 12 guest with systemd and olad, an adapter hot-plugged.
bash tests/system/run.sh build/linux
# The installed forms: prefix, .deb, C, C++ and Python hosts, the wheel in a venv.
bash scripts/test-install.sh build/linux
# arm64 and armhf: the packages, the tests under qemu-user and in an ARM system guest.
bash tests/arm/run.sh arm64
bash tests/arm/run.sh armhf
# Sanitizer suites, bounded fuzz runs, valgrind cycles (scripts/reliability.sh --long for more).
bash scripts/reliability.sh
