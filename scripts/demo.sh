#!/usr/bin/env bash
# Installs what is missing, builds the Linux library and its tools, and runs
# the demo: four simulated devices get addresses, groups, colours, fades,
# programs and an EEPROM image. Extra arguments go to `tivctl demo`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target tivctl tivsim
build/linux/tools/tivctl demo "$@"
