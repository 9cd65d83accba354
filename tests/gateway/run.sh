#!/usr/bin/env bash
# run.sh BUILD_DIR: tivgate end to end through a private olad in a network
# namespace of its own, checked on a simulated bus. Ends "N passed, M failed".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
if [ ! -x "$build/tools/tivgate/tivgate" ]; then
  echo "tivgate was not built (libola-dev or libtomlplusplus-dev missing?)" >&2
  exit 1
fi
# Debian's own Python, which has python3-pil for reading the page's screenshots.
timeout 300 bash "$here/with_olad.sh" /usr/bin/python3 "$here/gateway_test.py" "$build"
