#!/usr/bin/env bash
# Installs what is missing, builds Release, runs every benchmark and writes
# docs/performance.md. Takes about five minutes; keep the machine otherwise
# quiet for figures worth comparing. BENCH_BUILD_DIR overrides the build
# folder (default build/bench).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Optional tools for the system-call and scheduler counts of a download.
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=()
command -v strace >/dev/null || missing+=(strace)
command -v perf >/dev/null || missing+=(linux-perf)
if [ ${#missing[@]} -gt 0 ]; then
  { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
      --no-install-recommends "${missing[@]}"; } >/dev/null 2>&1 || echo "note: could not install ${missing[*]}"
fi

build=${BENCH_BUILD_DIR:-build/bench}
out=$build/results
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTIVLINK_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_pacing bench_cpu bench_encoder download_host tivsim
mkdir -p "$out"
rm -f "$out"/*

python_serial=$(/usr/bin/python3 -c 'import serial, sys; print("Python %s, pySerial %s" % (sys.version.split()[0], serial.VERSION))')
{
  echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores"
  echo "System: $(. /etc/os-release && echo "$PRETTY_NAME"), Linux $(uname -r)"
  echo "Compiler: $(g++ --version | head -1), Release build"
  echo "Google Benchmark $(dpkg-query -W -f='${Version}' libbenchmark-dev); $python_serial"
  echo "Load average (1, 5, 15 min) before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
} > "$out/machine.txt"

# A benchmark that finds something wrong (frames that differ from the plan,
# threads it cannot find) says so and fails the script, after the report.
status=0
bin=$build/bench
echo "== encoder"
"$bin/bench_encoder" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/encoder.json" --benchmark_out_format=json || status=1
echo "== CPU"
"$bin/bench_cpu" --out "$out/cpu.json" || status=1
echo "== pacing"
"$bin/bench_pacing" --out "$out/pacing.json" || status=1
if command -v strace >/dev/null; then
  echo "== strace -c of a download"
  strace -f -c -o "$out/strace-download.txt" "$bin/bench_cpu" --download-only 50
fi
if command -v perf >/dev/null && perf stat -e task-clock true >/dev/null 2>&1; then
  echo "== perf stat of a download"
  perf stat -e task-clock,context-switches,cpu-migrations,page-faults -o "$out/perf-download.txt" \
    "$bin/bench_cpu" --download-only 50
  sed -i '/^$/d; /^#/d' "$out/perf-download.txt"
fi
if command -v perf >/dev/null && perf stat -e task-clock true >/dev/null 2>&1; then
  echo "== CPU per download frame, bus in another process"
  bash scripts/frame_cost.sh "$build" > "$out/frame-cost.txt" || status=1
fi
# tivgate through a private olad, when it was built and we may make a network namespace.
if cmake --build "$build" --target help | grep ' bench_gateway$' >/dev/null && [ "$(id -u)" -eq 0 ]; then
  echo "== gateway"
  cmake --build "$build" -j "$(nproc)" --target bench_gateway
  bash tests/gateway/with_olad.sh "$bin/bench_gateway" --tivgate "$build/tools/tivgate/tivgate" \
    --out "$out/gateway.json" 2>"$out/gateway-log.txt" || status=1
fi
echo "Load average (1, 5, 15 min) after the run: $(cut -d' ' -f1-3 /proc/loadavg)" >> "$out/machine.txt"

mkdir -p docs
/usr/bin/python3 bench/write_report.py "$out" "bash scripts/bench.sh" > docs/performance.md
echo "wrote docs/performance.md"
exit $status
