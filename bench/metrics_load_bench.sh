#!/usr/bin/env bash
# Puts `norvane-cli record --metrics` (polling the paced simulator) under hostile load on loopback
# and reports what a scraper sees, then how long SIGTERM takes to end it:
#   1. 200 scrapers at once (burst): latency median, 99th percentile, max, refused/failed;
#   2. 200 slow clients that send a request a byte a second and 100 idle keep-alive connections
#      hang on while one scrape a 50 ms runs for SECONDS: the same figures, and how many idle
#      connections the server closed;
#   3. SIGTERM with the slow clients still connected: time until the process has exited.
# Bounded: about SECONDS + 15 s in all.
#   bench/metrics_load_bench.sh [SECONDS] [NORVANE_CLI]   (default 10 s, build/default/src/app/norvane-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
cli=${2:-build/default/src/app/norvane-cli}
[[ -x $cli ]] || { echo "no $cli: build the target norvane-cli first" >&2; exit 2; }
ulimit -n 4096
exec python3 - "$cli" "$seconds" <<'PYTHON'
import asyncio, os, signal, socket, subprocess, sys, tempfile, time

cli, seconds = sys.argv[1], float(sys.argv[2])
work = tempfile.TemporaryDirectory()
def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
port = free_port()
link = os.path.join(work.name, "counter")
sim = subprocess.Popen([cli, "--model", "ZQT-400", "simulate", "--pace", "--seed", "7", "--link", link],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
rec = None
try:
    for _ in range(100):
        if os.path.exists(link): break
        time.sleep(0.05)
    rec = subprocess.Popen([cli, "--settings", os.path.join(work.name, "settings.reg"), "--store",
                            os.path.join(work.name, "store.sqlite"), "--port", link, "record",
                            "--log", os.path.join(work.name, "record.log"), "--metrics", f"127.0.0.1:{port}"])
    REQUEST = b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"

    async def scrape():
        start = time.perf_counter()
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", port), 10)
            writer.write(REQUEST)
            body = await asyncio.wait_for(reader.read(), 10)
            writer.close()
            if not body.startswith(b"HTTP/1.1 200"): return None
        except (OSError, asyncio.TimeoutError):
            return None
        return (time.perf_counter() - start) * 1000

    def figures(name, results):
        good = sorted(r for r in results if r is not None)
        if not good:
            print(f"{name}: all {len(results)} scrapes failed"); return
        pick = lambda q: good[min(len(good) - 1, int(q * len(good)))]
        print(f"{name}: {len(good)} of {len(results)} answered, median {pick(0.5):.1f} ms, "
              f"99th percentile {pick(0.99):.1f} ms, max {good[-1]:.1f} ms")

    async def slow_client(stop):
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
            for byte in REQUEST[:-2]:  # never finished
                if stop.is_set(): break
                writer.write(bytes([byte]))
                await writer.drain()
                await asyncio.sleep(1)
            await stop.wait()
        except OSError:
            pass

    async def idle_client(closed):
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
            writer.write(REQUEST.replace(b"Connection: close", b"Connection: keep-alive"))
            start = time.monotonic()
            while await reader.read(65536):  # the answer, then nothing until the server closes it
                pass
            closed.append(time.monotonic() - start)
        except OSError:
            pass

    async def main():
        deadline = time.monotonic() + 20
        while await scrape() is None:
            if time.monotonic() > deadline: sys.exit("record never served /metrics")
            await asyncio.sleep(0.1)
        figures("200 scrapers at once", await asyncio.gather(*(scrape() for _ in range(200))))

        stop, closed = asyncio.Event(), []
        hangers = [asyncio.create_task(slow_client(stop)) for _ in range(200)]
        idlers = [asyncio.create_task(idle_client(closed)) for _ in range(100)]
        await asyncio.sleep(1)
        results, end = [], time.monotonic() + seconds
        while time.monotonic() < end:
            results.append(await scrape())
            await asyncio.sleep(0.05)
        figures(f"scrapes over {seconds:.0f} s beside 200 slow clients and 100 idle keep-alives", results)
        print(f"idle keep-alive connections closed by the server: {len(closed)} of 100" +
              (f", after {min(closed):.1f} to {max(closed):.1f} s" if closed else ""))

        start = time.perf_counter()
        rec.send_signal(signal.SIGTERM)
        while rec.poll() is None:
            await asyncio.sleep(0.005)
        print(f"SIGTERM to exit with 200 slow clients connected: {(time.perf_counter() - start) * 1000:.0f} ms "
              f"(exit status {rec.returncode})")
        stop.set()
        for task in hangers + idlers: task.cancel()
        await asyncio.gather(*hangers, *idlers, return_exceptions=True)

    asyncio.run(main())
finally:
    for p in (rec, sim):
        if p and p.poll() is None:
            p.terminate(); p.wait()
PYTHON
