# Sent ahead of every script tests/system/run.sh runs in the guest.
unit=tivgate.service
show() { systemctl show "$unit" -p "$1" --value; }
# await_log TEXT SECONDS [SINCE]: waits for a journal line of the unit that
# contains TEXT and was logged after SINCE (epoch seconds; default: now);
# prints it as "@@seen LINE". "@@watching" says the clock has started.
await_log() {
  local since=${3:-$(date +%s.%N)}
  echo @@watching
  awk -v since="$since" -v text="$1" '$1 > since && index($0, text) { print "@@seen " $0; found = 1; exit }
    END { exit !found }' < <(exec timeout "$2" journalctl -u "$unit" -f -n 200 -o short-unix)
}
# dmx V1,V2,...: the frame the feeder sends from now on.
dmx() { echo "$1" >/run/tivtest-dmx.new && mv /run/tivtest-dmx.new /run/tivtest-dmx; }
