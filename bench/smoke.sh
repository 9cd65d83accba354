#!/usr/bin/env bash
# A few-second run of every benchmark and of the report writer, so that the
# bench code keeps building and working. Figures from it mean nothing.
# Usage: smoke.sh BENCH_BINARY_DIR
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$bin/bench_pacing" --smoke --out "$out/pacing.json"
"$bin/bench_cpu" --smoke --out "$out/cpu.json"
if [ -x "$bin/bench_encoder" ]; then
  "$bin/bench_encoder" --benchmark_min_time=0.001 --benchmark_out="$out/encoder.json" \
    --benchmark_out_format=json >/dev/null
fi
echo "smoke run" > "$out/machine.txt"
/usr/bin/python3 "$here/write_report.py" "$out" "bench/smoke.sh" > "$out/performance.md"
grep -q "^## Targets" "$out/performance.md"
echo "report: $(wc -l < "$out/performance.md") lines"
