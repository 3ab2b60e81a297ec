#!/usr/bin/env bash
# Starts a PostgreSQL server and a Mosquitto broker in a temporary folder and norvane-cli collect
# between them, then plays STATIONS stations publishing once a second for SECONDS seconds
# (bench/collect_bench.cpp) and prints what was stored, the publish-to-commit delay, the CPU of
# each process and the store's size per station-year.
# Usage: bench/collect_bench.sh [STATIONS] [SECONDS]   (default: 1000 stations, 60 s)
set -euo pipefail
cd "$(dirname "$0")/.."
stations=${1:-1000}
seconds=${2:-60}
[[ -d build/bench ]] || cmake --preset bench -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build --preset bench -j2 --target norvane-cli collect_bench >/dev/null
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
dir=$(mktemp -d /tmp/norvane-collect-bench-XXXXXX)
chmod 755 "$dir"
as=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$dir"
  as=(runuser -u postgres --)
fi
"${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U norvane >/dev/null
"${as[@]}" "$bin/pg_ctl" -D "$dir/data" -w -l "$dir/postgres.log" -o "-k $dir -c listen_addresses=''" start >/dev/null
"${as[@]}" "$bin/createdb" -h "$dir" -U norvane centre
url="postgresql://norvane@/centre?host=$dir"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# A centre's broker keeps every message for a collector that falls behind or is away.
printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\nmax_queued_messages 0\nmax_inflight_messages 0\n' \
  "$port" "$(id -un)" >"$dir/mosquitto.conf"
/usr/sbin/mosquitto -c "$dir/mosquitto.conf" 2>"$dir/broker.log" &
broker=$!
collector=
cleanup() {
  [ -n "$collector" ] && kill "$collector" 2>/dev/null && wait "$collector" 2>/dev/null
  kill "$broker" 2>/dev/null; wait "$broker" 2>/dev/null
  "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
sleep 0.5
build/bench/src/app/norvane-cli --settings "$dir/settings.reg" --store "$url" collect \
  --mqtt "mqtt://127.0.0.1:$port/centre" --journal "$dir/journal" 2>"$dir/collect.log" &
collector=$!
sleep 1
postmaster=$(head -1 "$dir/data/postmaster.pid")
build/bench/bench/collect_bench 127.0.0.1 "$port" centre "$url" "$stations" "$seconds" "$collector" "$broker" "$postmaster"
