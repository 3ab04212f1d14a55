#!/usr/bin/env bash
# What a page's notices cost a request that fails, in a folder of 50,000 files (250 folders of 100
# images, 250 of 100 scripts): a missing image asked for as a page asks for it (Sec-Fetch-Dest,
# Sec-Fetch-Site and the page's Referer: the server looks for the meant name and tells the page),
# against the same request as a tool sends it (no notice). Two paths: one two letters off a name in
# its folder, one near nothing (every sibling folder is looked into). wrk -t1 -c1, one request at
# a time on a kept-alive connection, interleaved rounds, medians of the mean latency. Then
# bench_notices: the index's first scan of that folder, its memory, and the look-up alone.
# Prints the figures, then one last line of name=value results.
#
# Usage: bench/page-notices.sh          (BUILD_DIR=build ROUNDS=3 DURATION=5s by default)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
[ -x "$SERVER" ] || { echo "error: $SERVER is missing; build first (make build)" >&2; exit 1; }
[ -x "$BUILD_DIR/bin/bench_notices" ] || { echo "error: build bench_notices first" >&2; exit 1; }
install_tools wrk curl

make_work_folder
python3 - "$site" <<'PY'
import os, sys
site = sys.argv[1]
for i in range(250):
    for kind, name in (("img", "photo-%04d.jpg"), ("js", "mod-%04d.js")):
        folder = os.path.join(site, "%s-%03d" % (kind, i))
        os.makedirs(folder)
        for j in range(100):
            open(os.path.join(folder, "util.js" if kind == "js" and j == 99 else name % j), "w").close()
open(os.path.join(site, "index.html"), "w").write("<!DOCTYPE html><body></body>\n")
PY

port=$(free_port)
start_server "$port"
wait_for_port "$port" index.html
# Live reload watches the folder before it takes sockets; the index is scanned beside it.
sleep 2

# latency_us PATH [WRK OPTIONS...]: the mean time of one request, in microseconds.
latency_us() {
    local path=$1
    shift
    wrk -t1 -c1 -d"$DURATION" "$@" "http://127.0.0.1:$port/$path" |
        awk '/Requests\/sec/ {printf "%.1f", 1000000 / $2}'
}
page=(-H "Sec-Fetch-Dest: image" -H "Sec-Fetch-Site: same-origin" -H "Referer: http://localhost:$port/index.html")

declare -A figures
for path in img-125/phto-0042.jpg img-125/banner.png; do
    with=""
    without=""
    for round in $(seq "$ROUNDS"); do
        if [ $((round % 2)) -eq 1 ]; then
            with+=" $(latency_us "$path" "${page[@]}")"
            without+=" $(latency_us "$path")"
        else
            without+=" $(latency_us "$path")"
            with+=" $(latency_us "$path" "${page[@]}")"
        fi
    done
    figures[$path]="$(echo "$with" | median) $(echo "$without" | median)"
    echo "$path done"
done

echo
echo "404 in a folder of 50,000 files, wrk -t1 -c1 -d$DURATION, microseconds a request (median of $ROUNDS):"
for path in img-125/phto-0042.jpg img-125/banner.png; do
    read -r with without <<<"${figures[$path]}"
    echo "  $path: with the notice $with   without $without"
done
"$BUILD_DIR/bin/bench_notices" "$site"
read -r near_with near_without <<<"${figures[img-125/phto-0042.jpg]}"
read -r none_with none_without <<<"${figures[img-125/banner.png]}"
echo "near_with_us=$near_with near_without_us=$near_without none_with_us=$none_with none_without_us=$none_without"
