#!/usr/bin/env bash
# A minute of normal and hostile clients on one server at once, all on loopback:
#   - wrk, 100 keep-alive connections on a 1 KiB file (the normal clients);
#   - bench_soak: 30 live-reload sockets, a save every 100 ms, 200 slowloris clients, a stalled
#     reader of a 64 MiB file, and a fresh request every 200 ms, timed;
# Prints the errors the normal clients saw (goal 0), the server's RSS and open descriptors before
# and after (goal: back where they started), and the worst time a fresh request took.
#
# Usage: bench/soak.sh            (BUILD_DIR=build SOAK_SECONDS=60 by default)
set -euo pipefail

SOAK_SECONDS=${SOAK_SECONDS:-60}
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
install_tools wrk curl
cmake --build "$BUILD_DIR" --target mongoose bench_soak -- -j2 >/dev/null

# The served folder in memory when possible: saves on a shared disk stalled for seconds behind
# other programs' writeback, which measured the disk, not the server.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
make_work_folder
head -c 1024 /dev/urandom >"$site/small.bin"
printf '<!DOCTYPE html><html><body><p>soak</p></body></html>\n' >"$site/index.html"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$site/large.bin"

port=$(free_port)
start_server "$port"
server_pid=$!
wait_for_port "$port" small.bin
sleep 1
rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$server_pid/status"; }
fds() { find "/proc/$server_pid/fd" -mindepth 1 -maxdepth 1 | wc -l; }
rss_start=$(rss_kib)
fds_start=$(fds)

# Ahead of the server's busy workers (a real-time priority where allowed; it mostly sleeps), or its
# saves and slow clients would not keep their pace on a two-core machine.
soak_client() { "$BUILD_DIR/bin/bench_soak" "$@"; }
command -v chrt >/dev/null && [ "$(id -u)" -eq 0 ] && soak_client() { chrt -f 5 "$BUILD_DIR/bin/bench_soak" "$@"; }
soak_client "$port" "$site" "$SOAK_SECONDS" /large.bin >"$work/soak.txt" &
soak_pid=$!
wrk -t2 -c100 -d"${SOAK_SECONDS}s" --timeout 5s "http://127.0.0.1:$port/small.bin" >"$work/wrk.txt"
wait "$soak_pid"
rss_peak=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")

# Slowloris and stalled connections end with the soak; the server closes its side within its
# request timeout (2 s) and keep-alive timeout.
sleep 5
rss_end=$(rss_kib)
fds_end=$(fds)

wrk_errors=$(awk '/Socket errors/ {gsub(",", ""); print $4 + $6 + $8 + $10}' "$work/wrk.txt")
wrk_non2xx=$(awk '/Non-2xx/ {print $NF}' "$work/wrk.txt")
echo "== wrk, 100 connections, ${SOAK_SECONDS} s"
grep -E "Requests/sec|Latency|Socket errors|Non-2xx|requests in" "$work/wrk.txt" | sed 's/^/  /'
echo "== bench_soak"
grep -v '=' "$work/soak.txt" | sed 's/^/  /'
echo "== server"
echo "  RSS start $((rss_start / 1024)).$(((rss_start % 1024) * 10 / 1024)) MiB," \
    "end $((rss_end / 1024)).$(((rss_end % 1024) * 10 / 1024)) MiB, peak $((rss_peak / 1024)) MiB;" \
    "open descriptors start $fds_start, end $fds_end"
echo "wrk_errors=${wrk_errors:-0} wrk_non2xx=${wrk_non2xx:-0} $(grep '=' "$work/soak.txt")" \
    "rss_start_kib=$rss_start rss_end_kib=$rss_end rss_peak_kib=$rss_peak fds_start=$fds_start fds_end=$fds_end"
