#!/usr/bin/env bash
# What a site's rule files cost a plain file: the same 1 KiB file from two servers, one whose folder
# holds an empty _headers and a 100-rule _redirects (99 redirects that the request's first segment
# turns away, then a catch-all SPA rewrite that the file shadows), one without them. wrk -t2 -c50,
# keep-alive, interleaved rounds, medians; then bench_siterules for the rules' own nanoseconds.
# Prints the figures, then one last line of name=value results.
#
# Usage: bench/site-rules.sh            (BUILD_DIR=build ROUNDS=3 DURATION=5s by default)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
[ -x "$SERVER" ] || { echo "error: $SERVER is missing; build first (make build)" >&2; exit 1; }
install_tools wrk curl

make_work_folder
head -c 1024 /dev/urandom >"$site/small.html"
cp -r "$site" "$work/rules"
: >"$work/rules/_headers"
for i in $(seq 0 98); do
    echo "/old-$i/:slug/* /new-$i/:slug/:splat 301"
done >"$work/rules/_redirects"
echo "/* /index.html 200" >>"$work/rules/_redirects"

plain_port=$(free_port)
start_server "$plain_port"
rules_port=$(free_port)
(cd "$work/rules" && exec "$work/mongoose-bench" "$rules_port" >/dev/null) &
pids+=($!)
wait_for_port "$plain_port" small.html
wait_for_port "$rules_port" small.html

plain=""
rules=""
# Each round in the other order, so that a load beside the benchmark falls on both alike.
for round in $(seq "$ROUNDS"); do
    if [ $((round % 2)) -eq 1 ]; then
        plain+=" $(rps "$plain_port" 50 small.html)"
        rules+=" $(rps "$rules_port" 50 small.html)"
    else
        rules+=" $(rps "$rules_port" 50 small.html)"
        plain+=" $(rps "$plain_port" 50 small.html)"
    fi
    echo "round $round done"
done
plain=$(echo "$plain" | median)
rules=$(echo "$rules" | median)

echo
echo "1 KiB file, wrk -t2 -c50 -d$DURATION, requests/s (median of $ROUNDS):"
echo "  with an empty _headers and a 100-rule _redirects $rules   without them $plain"
if [ -x "$BUILD_DIR/bin/bench_siterules" ]; then
    "$BUILD_DIR/bin/bench_siterules"
fi
echo "with_rules_rps=$rules without_rules_rps=$plain ratio=$(ratio "$rules" "$plain")"
