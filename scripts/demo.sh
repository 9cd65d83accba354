#!/usr/bin/env bash
# Installs what is missing for it, builds the Linux library and its tools
# (without the tests) in build/demo, and runs the demo: four simulated devices get addresses, groups, colours, fades,
# programs and an EEPROM image. Extra arguments go to `tivctl demo`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh demo
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DTIVLINK_TESTS=OFF >/dev/null
cmake --build build/demo -j "$(nproc)" --target tivctl
build/demo/tools/tivctl demo "$@"
