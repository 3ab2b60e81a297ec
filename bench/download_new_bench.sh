#!/usr/bin/env bash
# "Download New" of a simulated ZQT-400 whose 1 MiB flash is full, pacing its replies at 115200
# baud, with 1 KiB logged since the last download: the wall time from the command's start to the
# dump saved and its records in the store (target <= 2 s; reading the whole flash takes about
# 91 s). The last download is put in a fresh store first from an unpaced simulator.
#
#   bench/download_new_bench.sh [path/to/norvane-cli]
set -euo pipefail

cli=${1:-build/bench/src/app/norvane-cli}
[[ -x $cli ]] || { echo "no norvane-cli at $cli (build it, or give its path)" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
stop_sim() {
  if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=
}
trap 'stop_sim; rm -rf "$work"' EXIT

# Starts a simulator with the given options and sets $port.
start_sim() {
  "$cli" --model ZQT-400 simulate "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  : >"$work/sim.out"
  for _ in $(seq 50); do [[ -s $work/sim.out ]] && break; sleep 0.1; done
  port=$(head -n1 "$work/sim.out")
  [[ -n $port ]] || { echo "the simulator did not start: $(cat "$work/sim.err")" >&2; exit 1; }
}

download() {
  "$cli" --settings "$work/settings.reg" --store "$work/store.sqlite" --port "$port" download --speed 100 "$@" \
    >"$work/download.out" 2>"$work/download.err" || {
    echo "the download failed:" >&2; tail -n 5 "$work/download.err" >&2; exit 1; }
}

# A full flash: hourly sessions of per-second counts, each opened by its stamp, up to 64 bytes
# before the end; and the same history without its last 1024 bytes.
python3 - "$work/grown.img" "$work/before.img" <<'PY'
import datetime, sys
size, image, t = 1 << 20, bytearray(), datetime.datetime(2026, 1, 1)
while True:
    stamp = bytes([0x55, 0xAA, 0x00, t.year - 2000, t.month, t.day, t.hour, t.minute, t.second, 0x55, 0xAA, 1])
    if len(image) + len(stamp) + 1 > size - 64:
        break
    image += stamp
    room = size - 64 - len(image)
    image += bytes((s * 7 + s // 13) % 4 for s in range(min(3600, room)))
    t += datetime.timedelta(hours=1)
end = len(image)
open(sys.argv[1], 'wb').write(image + b'\xff' * (size - end))
open(sys.argv[2], 'wb').write(image[:end - 1024] + b'\xff' * (size - end + 1024))
PY

start_sim --history "$work/before.img"
download "$work/before"
stop_sim

start_sim --pace --history "$work/grown.img"
TIMEFORMAT='%R'
{ time download --new "$work/new"; } 2>"$work/time"
stop_sim
wall=$(cat "$work/time")

cmp -n 1048576 "$work/new.bin" "$work/grown.img" >/dev/null || { echo "the new dump differs from a full download" >&2; exit 1; }
printf 'new data        1024 bytes after %s bytes\n' "$(python3 -c "import sys; print(len(open(sys.argv[1],'rb').read().rstrip(b'\xff'))-1024)" "$work/grown.img")"
printf 'wall time       %s s (target <= 2 s), dump equal to a full download\n' "$wall"
printf 'store           %s\n' "$(grep -o '[0-9]* of [0-9]* history records were new' "$work/download.err" "$work/download.out" | tail -n1 | cut -d: -f2)"
