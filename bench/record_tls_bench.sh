#!/usr/bin/env bash
# Runs `norvane-cli record` RUNS times against a Mosquitto broker on this machine whose TLS
# certificate does not verify (signed by a CA other than the one given with --mqtt-ca), and as
# many times with a --mqtt-ca that is not a certificate. Each run records for SECONDS, is sent
# SIGTERM, and is judged: the seconds it printed all in the store, and its end within 2 s.
#   bench/record_tls_bench.sh [RUNS] [SECONDS] [NORVANE_CLI]   (default 20 runs of 5 s)
set -euo pipefail

runs=${1:-20}
seconds=${2:-5}
cli=${3:-build/default/src/app/norvane-cli}
work=$(mktemp -d)
sim= broker=
trap 'kill $sim $broker 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The broker's certificate, and another CA that did not sign it.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout "$work/broker.key" \
  -out "$work/broker.crt" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other-ca -keyout "$work/other.key" \
  -out "$work/other-ca.crt" 2>/dev/null
echo "not a certificate" >"$work/garbage.pem"
port=$(free_port)
printf 'listener %s 127.0.0.1\ncertfile %s\nkeyfile %s\nallow_anonymous true\nuser %s\n' "$port" \
  "$work/broker.crt" "$work/broker.key" "$(id -un)" >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
broker=$!

"$cli" --model ZQT-400 simulate --pace --link "$work/counter" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/counter" ] && break; sleep 0.1; done

for ca in other-ca.crt garbage.pem; do
  good=0 slowest=0
  for run in $(seq "$runs"); do
    store="$work/store-$ca-$run.sqlite"
    NORVANE_PORTS="$work/counter" "$cli" --settings "$work/settings.reg" --store "$store" --model ZQT-400 \
      --port "$work/counter" record --echo --mqtt "mqtts://127.0.0.1:$port/station" --mqtt-ca "$work/$ca" \
      >"$work/out" 2>"$work/err" &
    rec=$!
    sleep "$seconds"
    start=$(date +%s%N)
    kill -TERM $rec 2>/dev/null || true
    ended=1
    for _ in $(seq 500); do kill -0 $rec 2>/dev/null || { ended=0; break; }; sleep 0.01; done
    took=$((($(date +%s%N) - start) / 1000000))
    [[ $ended == 1 ]] && kill -KILL $rec 2>/dev/null
    wait $rec 2>/dev/null || true
    printed=$(wc -l <"$work/out")
    stored=$(sqlite3 "$store" 'SELECT coalesce(sum(measured), 0) FROM seconds' 2>/dev/null || echo 0)
    told=$(grep -c 'TLS' "$work/err" || true)
    ((took > slowest)) && slowest=$took
    if [[ $ended == 0 && $printed -gt 0 && $printed == "$stored" && $told -gt 0 && $took -le 2000 ]]; then
      good=$((good + 1))
    else
      echo "run $run with $ca: printed $printed, stored $stored, TLS told $told, ended in $took ms"
    fi
  done
  echo "--mqtt-ca $ca: $good of $runs runs stored every second, told the TLS failure and ended within 2 s (slowest stop $slowest ms)"
done
