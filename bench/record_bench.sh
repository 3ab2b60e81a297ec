#!/usr/bin/env bash
# Runs `norvane-cli record` against the paced simulator and reports its CPU share of one core and
# its peak resident memory.
#   bench/record_bench.sh [SECONDS] [NORVANE_CLI]     (default 600 s, build/default/src/app/norvane-cli)
set -euo pipefail

seconds=${1:-600}
cli=${2:-build/default/src/app/norvane-cli}
work=$(mktemp -d)
trap 'kill $sim $rec 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$cli" --model ZQT-400 simulate --pace --seed 7 --link "$work/counter" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/counter" ] && break; sleep 0.1; done

"$cli" --settings "$work/settings.reg" --store "$work/store.sqlite" --port "$work/counter" record \
  --log "$work/record.log" &
rec=$!
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$rec/stat"; }

# Start-up (opening the store, identifying the counter) is left out of the steady figure.
sleep 5
start_ticks=$(cpu_ticks)
start_ns=$(date +%s%N)
rss_first=$(awk '/^VmRSS/ {print $2}' "/proc/$rec/status")
sleep "$seconds"
end_ticks=$(cpu_ticks)
end_ns=$(date +%s%N)
rss_last=$(awk '/^VmRSS/ {print $2}' "/proc/$rec/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$rec/status")
kill -TERM $rec
wait $rec || true
rec=

measured=$("$cli" --store "$work/store.sqlite" store stats --json 2>/dev/null | grep -o '"measured_seconds": *[0-9]*' | grep -o '[0-9]*$' || echo "?")
awk -v t=$((end_ticks - start_ticks)) -v hz="$ticks" -v ns=$((end_ns - start_ns)) \
    -v hwm="$hwm" -v r0="$rss_first" -v r1="$rss_last" -v m="$measured" 'BEGIN {
  wall = ns / 1e9
  printf "record over %.0f s of the paced simulator (%s seconds in the store)\n", wall, m
  printf "CPU: %.3f s = %.3f %% of one core\n", t / hz, 100 * t / hz / wall
  printf "resident memory: %d kB after start-up, %d kB at the end, peak (VmHWM) %d kB\n", r0, r1, hwm
}'
