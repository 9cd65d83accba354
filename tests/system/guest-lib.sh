# Sent ahead of every script tests/system/run.sh runs in the guest.
unit=tivgate.service
show() { systemctl show "$unit" -p "$1" --value; }
# await_log TEXT SECONDS [SINCE]: waits for a journal line of the unit that
# contains TEXT and was logged after SINCE (epoch microseconds; default:
# now); prints it as "@@seen LINE". "@@watching" says the clock has started.
# Read by bash, which takes a pipe line by line; awk here would wait for more.
await_log() {
  local since=${3:-$(date +%s%6N)} ts rest
  echo @@watching
  while read -r ts rest; do
    [[ $rest == *"$1"* && ${ts/./} -gt $since ]] && { echo "@@seen $ts $rest"; return 0; }
  done < <(exec timeout "$2" journalctl -u "$unit" -f -n 200 -o short-unix)
  return 1
}
# dmx V1,V2,...: the frame the feeder sends from now on.
dmx() { echo "$1" >/run/tivtest-dmx.new && mv /run/tivtest-dmx.new /run/tivtest-dmx; }
