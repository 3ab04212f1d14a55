#!/usr/bin/env bash
# Live reload, measured:
#   - from a file save to the page showing it in headless Chromium: a page reload and a CSS swap,
#     medians of SAVES saves each (bench_livereload);
#   - the serving path with live reload on and off, interleaved, medians of ROUNDS runs of wrk
#     (-t2 -c50): a 1 KiB non-HTML file, a 1 KiB page fetched by a tool (untouched), and the
#     same page as a browser navigation (read whole and given the script);
#   - then the server's own throughput benchmark (bench/server-throughput.sh), unless
#     SERVER_BENCH=0.
#
# Usage: bench/live-reload.sh      (BUILD_DIR=build SAVES=20 ROUNDS=3 DURATION=5s by default)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
SAVES=${SAVES:-20}
ROUNDS=${ROUNDS:-3}
DURATION=${DURATION:-5s}
SERVER_BENCH=${SERVER_BENCH:-1}

missing=()
command -v chromium >/dev/null || missing+=(chromium)
command -v wrk >/dev/null || missing+=(wrk)
command -v curl >/dev/null || missing+=(curl)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing benchmark tools: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --build "$BUILD_DIR" --target mongoose bench_livereload -- -j2 >/dev/null
SERVER=$BUILD_DIR/bin/mongoose

echo "== Save to page (headless Chromium, $SAVES saves each)"
"$BUILD_DIR/bin/bench_livereload" "$SERVER" "$(command -v chromium)" "$SAVES"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A copy under another name: the tool and its tests end every process named `mongoose`.
cp "$SERVER" "$work/mongoose-bench"
site=$work/site
mkdir -p "$site"
head -c 1024 /dev/urandom >"$site/small.bin"
{ printf '<!DOCTYPE html><html><body><p>'; head -c 900 /dev/zero | tr '\0' 'x'; printf '</p></body></html>\n'; } \
    >"$site/small.html"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for_port() {
    for _ in $(seq 200); do
        curl -s -o /dev/null "http://127.0.0.1:$1/small.bin" && return 0
        sleep 0.05
    done
    echo "error: nothing listens on port $1" >&2
    exit 1
}

on_port=$(free_port)
(cd "$site" && exec "$work/mongoose-bench" "$on_port" >/dev/null) &
pids+=($!)
off_port=$(free_port)
(cd "$site" && exec "$work/mongoose-bench" --no-live-reload "$off_port" >/dev/null) &
pids+=($!)
wait_for_port "$on_port"
wait_for_port "$off_port"

rps() {
    local port=$1 path=$2
    shift 2
    local output
    output=$(wrk -t2 -c50 -d"$DURATION" "$@" "http://127.0.0.1:$port/$path")
    if grep -q "Non-2xx" <<<"$output"; then
        echo "error: port $port answered $path with errors:" >&2
        echo "$output" >&2
        exit 1
    fi
    awk '/Requests\/sec/ {print $2}' <<<"$output"
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

declare -A results
for round in $(seq "$ROUNDS"); do
    for mode in on off; do
        port_var=${mode}_port
        results[bin_$mode]+=" $(rps "${!port_var}" small.bin)"
        results[html_$mode]+=" $(rps "${!port_var}" small.html)"
        results[nav_$mode]+=" $(rps "${!port_var}" small.html -H 'Sec-Fetch-Dest: document' -H 'Accept: text/html')"
    done
    echo "round $round done"
done

echo
echo "== Serving with live reload on / off (wrk -t2 -c50 -d$DURATION, requests/s, median of $ROUNDS)"
for kind in bin html nav; do
    case $kind in
    bin) label="1 KiB non-HTML file" ;;
    html) label="1 KiB page, fetched by a tool" ;;
    nav) label="1 KiB page, browser navigation" ;;
    esac
    on=$(echo "${results[${kind}_on]}" | median)
    off=$(echo "${results[${kind}_off]}" | median)
    printf '  %-32s on %9s   off %9s   on/off %s\n' "$label" "$on" "$off" \
        "$(awk -v a="$on" -v b="$off" 'BEGIN {printf "%.2f", a / b}')"
done

if [ "$SERVER_BENCH" = 1 ] && [ -x "$ROOT/bench/server-throughput.sh" ]; then
    echo
    echo "== The server's throughput benchmark (live reload on, as the tool starts it)"
    BUILD_DIR=$BUILD_DIR ROUNDS=$ROUNDS DURATION=$DURATION "$ROOT/bench/server-throughput.sh"
fi
