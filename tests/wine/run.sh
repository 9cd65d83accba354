#!/usr/bin/env bash
# Runs the Wine tests: the Windows hosts of WINDOWS_BUILD under Wine, driven
# from LINUX_BUILD against the simulated bus, in a throw-away prefix.
# Usage: tests/wine/run.sh LINUX_BUILD WINDOWS_BUILD [gtest options]
set -euo pipefail
linux=$(realpath "$1") windows=$(realpath "$2")
shift 2

driver=$linux/tests/wine/driver/test_wine
missing=()
[ -x "$driver" ] || missing+=("$driver")
for exe in wine_host_by_name wine_host_import example_by_import example_by_name; do
  [ -f "$windows/tests/wine/$exe.exe" ] || missing+=("$windows/tests/wine/$exe.exe")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "wine: not built: ${missing[*]}"
  exit 1
fi

export TIVLINK_LINUX_BUILD=$linux TIVLINK_WINDOWS_BUILD=$windows
export TIVLINK_WINE_PREFIX=$windows/wine-prefix
# A server left by an earlier run that died would outlive its prefix.
[ -d "$TIVLINK_WINE_PREFIX" ] && { WINEPREFIX=$TIVLINK_WINE_PREFIX wineserver -k >/dev/null 2>&1 || true; }
rm -rf "$TIVLINK_WINE_PREFIX" "$windows/wine-work"
# The driver stops its wineserver; this is for a driver that died.
trap 'WINEPREFIX=$TIVLINK_WINE_PREFIX wineserver -k >/dev/null 2>&1 || true' EXIT

log=$windows/wine-tests.log
start=$(date +%s)
status=0
timeout 900 "$driver" "$@" 2>&1 | tee "$log" || status=$?
passed=$(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' "$log" || true)
failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" || true)
skipped=$(grep -cE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log" || true)
# The hosts run under Wine beside the bus; on a loaded machine a frame can
# reach the bus late and a gap look off by a few milliseconds. A failed test
# runs once more: a fault of the library's own fails again, load rarely does.
if [ "$failed" -gt 0 ] && [ "$passed" -gt 0 ] && [ $# -eq 0 ]; then
  again=$(grep -E '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" | sed -E 's/^\[  FAILED  \] ([^, ]+).*/\1/' | paste -sd:)
  echo "wine: $failed failed; running them once more: $again"
  retry_log=$windows/wine-tests-retry.log
  status=0
  timeout 600 "$driver" --gtest_filter="$again" 2>&1 | tee "$retry_log" || status=$?
  failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$retry_log" || true)
  passed=$((passed + $(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' "$retry_log" || true)))
fi
echo "wine tests took $(($(date +%s) - start)) s, prefix included; log in $log"
echo "wine: $passed passed, $failed failed, $skipped skipped"
if [ "$status" -ne 0 ] || [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ]; then exit 1; fi
