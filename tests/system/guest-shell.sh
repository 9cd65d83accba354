#!/bin/bash
# The test's way into the guest, which has no network and no login: reads
# scripts from a virtio-serial port, runs each as root within its time limit
# and writes back what it printed and how it ended. The port is not a tty, so
# nothing is echoed. Asked "@@run SEQ SECONDS", then the script's lines, then
# "@@end"; answers with the output, then "@@rc SEQ STATUS".
port=/dev/virtio-ports/tivtest
for _ in $(seq 300); do [ -e "$port" ] && break; sleep 0.1; done
exec 3<>"$port"
echo "@@ready $(cut -d' ' -f1 /proc/uptime)" >&3

run_one() {
  local seq=$1 limit=$2 script= line
  while IFS= read -r line <&3 && [ "$line" != @@end ]; do script+=$line$'\n'; done
  timeout -k 2 "$limit" bash -c "$script" </dev/null >&3 2>&1
  echo "@@rc $seq $?" >&3
}

while :; do
  # Reads end at once while the host end is not connected.
  IFS= read -r line <&3 || { sleep 0.2; continue; }
  read -r verb seq limit <<<"$line"
  [ "$verb" = @@run ] && run_one "$seq" "$limit"
done
