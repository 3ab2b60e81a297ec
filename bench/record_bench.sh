#!/usr/bin/env bash
# Runs `norvane-cli record` against the paced simulator and reports its CPU share of one core and
# its peak resident memory. With --publish it also publishes over MQTT to a Mosquitto broker on
# this machine and serves /metrics (scraped every 15 s, as Prometheus would), and reports the
# delay from the simulated counter's reply to the state message reaching a subscriber. It also
# reports what record wrote to the disk (write_bytes in /proc/PID/io), scaled to a day. The
# journal of live seconds is kept in memory, in a folder of the bench's own in /dev/shm, as the
# service keeps it in its runtime directory; --journal-on-disk keeps it beside the store instead.
# The store is in $TMPDIR (or /tmp), which must be on a disk to count.
#   bench/record_bench.sh [--publish] [--journal-on-disk] [SECONDS] [NORVANE_CLI]
#   (default 600 s; the bench build's norvane-cli when there is one, else the default build's)
set -euo pipefail

publish= on_disk=
if [[ ${1:-} == --publish ]]; then publish=1; shift; fi
if [[ ${1:-} == --journal-on-disk ]]; then on_disk=1; shift; fi
seconds=${1:-600}
cli=${2:-}
if [[ -z $cli ]]; then
  cli=build/bench/src/app/norvane-cli
  [[ -x $cli ]] || cli=build/default/src/app/norvane-cli
fi
work=$(mktemp -d)
# Not a folder in memory (the store's own) keeps the journal beside the store.
memory=$work
[[ -z $on_disk ]] && memory=$(mktemp -d -p /dev/shm)
sim= rec= broker= sub=
trap 'kill $sim $rec $sub $broker 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work" "$memory"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

"$cli" --model ZQT-400 simulate --pace --seed 7 --link "$work/counter" --reply-log "$work/replies" \
  >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/counter" ] && break; sleep 0.1; done

publishing=()
if [[ -n $publish ]]; then
  mqtt_port=$(free_port)
  metrics_port=$(free_port)
  printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\n' "$mqtt_port" "$(id -un)" >"$work/mosquitto.conf"
  /usr/sbin/mosquitto -c "$work/mosquitto.conf" 2>"$work/broker.log" &
  broker=$!
  sleep 0.5
  mosquitto_sub -p "$mqtt_port" -t 'norvane/+/state' -q 1 -F '%U %p' >"$work/states" &
  sub=$!
  publishing=(--mqtt "mqtt://127.0.0.1:$mqtt_port/norvane" --metrics "127.0.0.1:$metrics_port")
fi

RUNTIME_DIRECTORY=$memory "$cli" --settings "$work/settings.reg" --store "$work/store.sqlite" --port "$work/counter" \
  record --log "$work/record.log" "${publishing[@]}" &
rec=$!
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$rec/stat"; }

# Start-up (opening the store, identifying the counter, connecting) is left out of the steady figure.
sleep 5
if [[ -z $on_disk && -z $(ls -A "$memory") ]]; then echo "record keeps no journal in $memory" >&2; exit 1; fi
start_ticks=$(cpu_ticks)
write_bytes() { awk '/^write_bytes/ {print $2}' "/proc/$rec/io"; }
start_written=$(write_bytes)
start_ns=$(date +%s%N)
rss_first=$(awk '/^VmRSS/ {print $2}' "/proc/$rec/status")
if [[ -n $publish ]]; then
  scrapes=0
  end=$((SECONDS + seconds))
  while ((SECONDS < end)); do
    sleep $((end - SECONDS < 15 ? end - SECONDS : 15))
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$metrics_port/metrics', timeout=5).read()" &&
      scrapes=$((scrapes + 1))
  done
else
  sleep "$seconds"
fi
end_ticks=$(cpu_ticks)
end_written=$(write_bytes)
end_ns=$(date +%s%N)
rss_last=$(awk '/^VmRSS/ {print $2}' "/proc/$rec/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$rec/status")
kill -TERM $rec
wait $rec || true
rec=

measured=$("$cli" --store "$work/store.sqlite" store stats --json 2>/dev/null | grep -o '"measured_seconds": *[0-9]*' | grep -o '[0-9]*$' || echo "?")
awk -v t=$((end_ticks - start_ticks)) -v hz="$ticks" -v ns=$((end_ns - start_ns)) \
 -v w=$((end_written - start_written)) \
    -v hwm="$hwm" -v r0="$rss_first" -v r1="$rss_last" -v m="$measured" -v p="${publish:+ with MQTT and /metrics}" \
    -v j="${on_disk:+beside the store}" 'BEGIN {
  wall = ns / 1e9
  printf "record%s, journal %s, over %.0f s of the paced simulator (%s seconds in the store)\n", p, j ? j : "in memory", wall, m
  printf "CPU: %.3f s = %.3f %% of one core\n", t / hz, 100 * t / hz / wall
  printf "disk writes: %d bytes = %.1f MB a day (write_bytes)\n", w, w / wall * 86400 / 1e6
  printf "resident memory: %d kB after start-up, %d kB at the end, peak (VmHWM) %d kB\n", r0, r1, hwm
}'

if [[ -n $publish ]]; then
  sleep 1
  echo "/metrics scraped $scrapes times"
  # Each state message is matched with the first reply sent in its second: record stamps a
  # second with the time its poll went out, and the reply follows within the same second.
  python3 - "$work/replies" "$work/states" <<'EOF'
import bisect, datetime, json, sys
replies = []
for line in open(sys.argv[1]):
    t, count = line.split()
    replies.append((float(t), int(count)))
replies.sort()
times = [t for t, _ in replies]
delays, mismatched = [], 0
for line in open(sys.argv[2]):
    received, payload = line.split(" ", 1)
    state = json.loads(payload)
    second = datetime.datetime.fromisoformat(state["time"].replace("Z", "+00:00")).timestamp()
    i = bisect.bisect_left(times, second)
    if i == len(replies) or replies[i][0] >= second + 1.5:
        mismatched += 1
        continue
    if replies[i][1] != state["counts"]:
        mismatched += 1
    delays.append((float(received) - replies[i][0]) * 1000)
delays.sort()
if not delays:
    sys.exit("no state message matched a reply")
pick = lambda q: delays[min(len(delays) - 1, int(q * len(delays)))]
print(f"counter's reply to MQTT state message: {len(delays)} messages, median {pick(0.5):.1f} ms, "
      f"99th percentile {pick(0.99):.1f} ms, max {delays[-1]:.1f} ms; {mismatched} without their reply")
EOF
fi
