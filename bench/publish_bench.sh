#!/usr/bin/env bash
# Starts a Mosquitto broker on a free local port and measures the delay from a reading handed to
# the MQTT publisher to its state message reaching a subscriber (median, 99th percentile, max).
# Usage: bench/publish_bench.sh [READINGS] [INTERVAL_MS]   (default: 600 readings, one a second)
set -euo pipefail
cd "$(dirname "$0")/.."
readings=${1:-600}
interval=${2:-1000}
[[ -d build/bench ]] || cmake --preset bench -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build --preset bench --target publish_bench >/dev/null
dir=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\n' "$port" "$(id -un)" >"$dir/mosquitto.conf"
/usr/sbin/mosquitto -c "$dir/mosquitto.conf" 2>"$dir/broker.log" &
broker=$!
trap 'kill $broker 2>/dev/null; wait $broker 2>/dev/null; rm -rf "$dir"' EXIT
sleep 0.5
build/bench/bench/publish_bench "$port" "$readings" "$interval"
