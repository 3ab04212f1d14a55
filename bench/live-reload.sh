#!/usr/bin/env bash
# Live reload, measured:
#   - from a file save to the page showing it in headless Chromium: a page reload and a CSS swap,
#     medians of SAVES saves each (bench_livereload);
#   - the serving path with live reload on and off, interleaved, medians of ROUNDS runs of wrk
#     (-t2 -c50): a 1 KiB non-HTML file, a 1 KiB page fetched by a tool (untouched), and the
#     same page as a browser navigation (streamed with the script in it);
#   - then the server's own throughput benchmark (bench/server-throughput.sh), unless
#     SERVER_BENCH=0.
#
# Usage: bench/live-reload.sh      (BUILD_DIR=build SAVES=20 ROUNDS=3 DURATION=5s by default)
set -euo pipefail

SAVES=${SAVES:-20}
SERVER_BENCH=${SERVER_BENCH:-1}
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"

install_tools chromium wrk curl
cmake --build "$BUILD_DIR" --target mongoose bench_livereload -- -j2 >/dev/null

echo "== Save to page (headless Chromium, $SAVES saves each)"
"$BUILD_DIR/bin/bench_livereload" "$SERVER" "$(command -v chromium)" "$SAVES"

make_work_folder
head -c 1024 /dev/urandom >"$site/small.bin"
{ printf '<!DOCTYPE html><html><body><p>'; head -c 900 /dev/zero | tr '\0' 'x'; printf '</p></body></html>\n'; } \
    >"$site/small.html"

on_port=$(free_port)
start_server "$on_port"
off_port=$(free_port)
start_server --no-live-reload "$off_port"
wait_for_port "$on_port" small.bin
wait_for_port "$off_port" small.bin

declare -A results
for round in $(seq "$ROUNDS"); do
    for mode in on off; do
        port_var=${mode}_port
        results[bin_$mode]+=" $(rps "${!port_var}" 50 small.bin)"
        results[html_$mode]+=" $(rps "${!port_var}" 50 small.html)"
        results[nav_$mode]+=" $(rps "${!port_var}" 50 small.html -H 'Sec-Fetch-Dest: document' -H 'Accept: text/html')"
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
    printf '  %-32s on %9s   off %9s   on/off %s\n' "$label" "$on" "$off" "$(ratio "$on" "$off")"
done

if [ "$SERVER_BENCH" = 1 ] && [ -x "$ROOT/bench/server-throughput.sh" ]; then
    echo
    echo "== The server's throughput benchmark (live reload on, as the tool starts it)"
    BUILD_DIR=$BUILD_DIR ROUNDS=$ROUNDS DURATION=$DURATION "$ROOT/bench/server-throughput.sh"
fi
