#!/usr/bin/env bash
# with_olad.sh CMD [ARG...]: runs CMD in a network namespace of its own, with
# only loopback up and a private olad on 127.0.0.1:9010 in which every plugin
# is disabled, so nothing can leave the machine. Needs root (olad itself runs
# as the olad user: it refuses root). CMD finds the config folder in
# $OLAD_CONF and olad's pid in $OLAD_CONF/olad.pid; if it restarts olad it
# writes the new pid there, and whatever that file names is stopped at the end.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "with_olad.sh: needs root for a network namespace" >&2
  exit 77
fi
if [ -z "${TIVGATE_NETNS:-}" ]; then
  exec unshare -n env TIVGATE_NETNS=1 bash "$0" "$@"
fi
ip link set lo up

conf=$(mktemp -d /tmp/tivgate-olad.XXXXXX)
for plugin in artnet dummy e131 espnet ftdidmx gpio karate kinet milinst opendmx openpixelcontrol osc \
              pathport renard sandnet shownet spi stageprofi uartdmx usbdmx usbserial; do
  echo "enabled = false" > "$conf/ola-$plugin.conf"
done
chown -R olad "$conf"
chmod 755 "$conf"

pidfile=$conf/olad.pid
start_olad() {
  runuser -u olad -- olad -c "$conf" --no-http --no-register-with-dns-sd -l 1 >>"$conf/olad.log" 2>&1 &
  echo $! > "$pidfile"
  # Ready when its RPC port answers (bounded).
  for _ in $(seq 100); do
    if bash -c 'exec 3<>/dev/tcp/127.0.0.1/9010' 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "with_olad.sh: olad did not come up; its log:" >&2
  cat "$conf/olad.log" >&2
  return 1
}
stop_olad() {
  [ -s "$pidfile" ] || return 0
  local pid; pid=$(cat "$pidfile")
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  : > "$pidfile"
}
cleanup() { stop_olad; rm -rf "$conf"; }
trap cleanup EXIT

start_olad
export OLAD_CONF=$conf
"$@"
