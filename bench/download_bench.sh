#!/usr/bin/env bash
# Downloads the whole 1 MiB history of a simulated ZQT-400 pacing its replies at 115200 baud, and
# reports the wall time against the line-rate bound (1 MiB / 11520 bytes/s) and the share of one
# core the download used. Runs for about 91 s, so it is run by hand, never in CI.
#
#   bench/download_bench.sh [path/to/norvane-cli]
set -euo pipefail

cli=${1:-build/bench/src/app/norvane-cli}
[[ -x $cli ]] || { echo "no norvane-cli at $cli (build it, or give its path)" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$cli" --model ZQT-400 simulate --pace >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
port=$(head -n1 "$work/sim.out")
[[ -n $port ]] || { echo "the simulator did not start: $(cat "$work/sim.err")" >&2; exit 1; }

# user + system time of the download alone, read from the shell's own accounting.
TIMEFORMAT='%R %U %S'
{ time "$cli" --settings "$work/settings.reg" --port "$port" download "$work/history" --all --speed 100 \
    >/dev/null 2>"$work/download.err"; } 2>"$work/time" || {
  echo "the download failed:" >&2; tail -n 5 "$work/download.err" >&2; exit 1; }
read -r wall user sys <"$work/time"

size=$(stat -c %s "$work/history.bin")
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v size="$size" 'BEGIN {
  bound = 1048576 / 11520
  printf "dump            %d bytes\n", size
  printf "wall time       %.1f s\n", wall
  printf "line-rate bound %.1f s\n", bound
  printf "ratio           %.3f (target <= 1.05)\n", wall / bound
  printf "cpu             user %.2f s + system %.2f s = %.1f %% of one core (target <= 10 %%)\n", user, sys, 100 * (user + sys) / wall
}'
