#!/usr/bin/env bash
# The Windows server, mongoose.exe from the release, under wine beside the Linux `mongoose`, in the
# same run on the same loopback, interleaved, medians of ROUNDS runs of wrk:
#   - 1 KiB file, keep-alive, wrk -t2 -c50     (requests/s)
#   - 10 MiB file, wrk -t2 -c4                 (requests/s)
#   - time from start to the first accepted connection (median of 10 starts)
# wine adds its own cost to every system call, so this bounds what Windows itself would do from
# below rather than predicting it.
#
# Usage: bench/server-throughput-wine.sh   (BUILD_DIR=build WINDOWS_BUILD_DIR=build-windows-release
#                                           ROUNDS=3 DURATION=5s by default; make windows-release first)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
WINDOWS_SERVER=$(ls "${WINDOWS_BUILD_DIR:-$ROOT/build-windows-release}"/release/*/mongoose.exe 2>/dev/null | head -1)
[ -x "$SERVER" ] || { echo "error: $SERVER is missing; build first (make build)" >&2; exit 1; }
[ -n "$WINDOWS_SERVER" ] || { echo "error: no mongoose.exe; make windows-release first" >&2; exit 1; }
install_tools wrk curl
wine64=/usr/lib/wine/wine64

make_work_folder
head -c 1024 /dev/urandom >"$site/small.html"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$site/big.bin"
cp "$WINDOWS_SERVER" "$work/mongoose-bench.exe"
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
"$wine64" wineboot --init >/dev/null 2>&1
cleanup_wine() { "${wine64%64}server" -k 2>/dev/null || true; cleanup; }
trap cleanup_wine EXIT

linux_port=$(free_port)
start_server "$linux_port"
windows_port=$(free_port)
(cd "$site" && exec "$wine64" "$work/mongoose-bench.exe" "$windows_port" >/dev/null 2>&1) &
pids+=($!)
wait_for_port "$linux_port" small.html
wait_for_port "$windows_port" small.html

declare -A results
for round in $(seq "$ROUNDS"); do
    for name in linux windows; do
        port_var=${name}_port
        results[small_$name]+=" $(rps "${!port_var}" 50 small.html)"
        results[big_$name]+=" $(rps "${!port_var}" 4 big.bin)"
    done
    echo "round $round done"
done

# Start-up: from the start of the program to its first accepted connection (wine's own start of a
# process in a running prefix included).
startup() {
    local times=() port start
    for _ in $(seq 10); do
        port=$(free_port)
        start=$(date +%s%N)
        if [ "$1" = windows ]; then
            (cd "$site" && exec "$wine64" "$work/mongoose-bench.exe" "$port" >/dev/null 2>&1) &
        else
            (cd "$site" && exec "$work/mongoose-bench" "$port" >/dev/null 2>&1) &
        fi
        local pid=$!
        local tries=0
        until curl -s -o /dev/null "http://127.0.0.1:$port/small.html"; do
            tries=$((tries + 1))
            [ $tries -lt 2000 ] || { echo "error: the $1 server did not start" >&2; exit 1; }
            sleep 0.005
        done
        times+=($((($(date +%s%N) - start) / 1000000)))
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    echo "${times[*]}" | median
}
# The Windows servers of these starts are ended with their prefix's other processes at the end.
startup_linux=$(startup linux)
startup_windows=$(startup windows)
"${wine64%64}server" -k 2>/dev/null || true

echo
echo "1 KiB file, wrk -t2 -c50 -d$DURATION, requests/s (median of $ROUNDS):"
echo "  Linux mongoose $(echo "${results[small_linux]}" | median)   mongoose.exe under wine $(echo "${results[small_windows]}" | median)"
echo "10 MiB file, wrk -t2 -c4 -d$DURATION, requests/s (median of $ROUNDS):"
echo "  Linux mongoose $(echo "${results[big_linux]}" | median)   mongoose.exe under wine $(echo "${results[big_windows]}" | median)"
echo "Start to first accepted connection (median of 10): Linux ${startup_linux} ms, under wine ${startup_windows} ms"
