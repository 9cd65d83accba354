#!/usr/bin/env bash
# CPU time and context switches the library's process spends per download
# frame, measured from outside (perf stat) with the bus in another process
# (tivsim). Two downloads of different lengths; the difference cancels the
# cost of starting, opening and closing.
#   scripts/frame_cost.sh BUILD_DIR [SMALL LARGE]
set -euo pipefail
build=${1:?usage: frame_cost.sh BUILD_DIR [SMALL LARGE]}
small=${2:-20}
large=${3:-220}
host=$build/bench/download_host
sim=$build/tools/tivsim

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --com 1 --quiet >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^TIVLINK_COM1=' "$work/sim.out" && break; sleep 0.1; done
line=$(grep -m1 '^TIVLINK_COM1=' "$work/sim.out" | sed 's/^TIVLINK_COM1=//; s/^export //')
[ -n "$line" ] || { echo "tivsim gave no line" >&2; exit 1; }

# task-clock in ms and context-switches of one run of BYTES bytes.
run() {
  TIVLINK_COM1=$line perf stat -x, -e task-clock,context-switches -o "$work/stat" "$host" 1 "$1" >/dev/null
  awk -F, '/task-clock/ {ms=$1} /context-switches/ {cs=$1} END {print ms, cs}' "$work/stat"
}
read -r ms_small cs_small < <(run "$small")
read -r ms_large cs_large < <(run "$large")
frames=$((large - small))
awk -v a="$ms_small" -v b="$ms_large" -v c="$cs_small" -v d="$cs_large" -v n="$frames" 'BEGIN {
  printf "frames %d: %.1f us CPU and %.2f context switches per frame (runs: %.2f ms / %d, %.2f ms / %d)\n",
         n, (b - a) * 1000 / n, (d - c) / n, a, c, b, d }'
