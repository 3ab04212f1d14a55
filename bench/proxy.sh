#!/usr/bin/env bash
# What passing a request on costs: a 1 KiB file from nginx (one worker) asked for directly, through
# our server's proxy rule (`/api/* http://127.0.0.1:PORT/:splat 200`, allowed with --proxy-allow)
# and through vite's dev server `server.proxy` (installed with npm into BUILD_DIR/bench-vite; left
# out with a message where npm is missing). In one run, interleaved rounds, medians:
#   - requests a second, wrk -t2 -c50 -dDURATION, keep-alive
#   - latency of one connection, wrk -t1 -c1 -dDURATION: median and worst
# Aims: the proxy adds under 0.2 ms to the median, serves at least 0.6 of nginx's own requests a
# second and more than vite's proxy. Prints the figures, then one last line of name=value results.
#
# Usage: bench/proxy.sh                 (BUILD_DIR=build ROUNDS=3 DURATION=5s by default)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
[ -x "$SERVER" ] || { echo "error: $SERVER is missing; build first (make build)" >&2; exit 1; }
install_tools wrk nginx:nginx-light curl
NGINX_BIN=$(command -v nginx || echo /usr/sbin/nginx)

make_work_folder
chmod 755 "$work" # nginx's worker runs as an unprivileged user
mkdir -p "$work/nginx" "$work/files"
head -c 1024 /dev/urandom >"$work/files/small.html"

nginx_port=$(free_port)
nginx_conf "$work/nginx/nginx.conf" "$nginx_port" "$work/files" 1 1024 ""
"$NGINX_BIN" -c "$work/nginx/nginx.conf" -p "$work/nginx" >/dev/null 2>&1 &
pids+=($!)
wait_for_port "$nginx_port" small.html

proxy_port=$(free_port)
echo "/api/* http://127.0.0.1:$nginx_port/:splat 200" >"$site/_redirects"
start_server --proxy-allow "127.0.0.1:$nginx_port" "$proxy_port"
wait_for_port "$proxy_port" api/small.html

vite_port=""
vite_dir=$BUILD_DIR/bench-vite
if command -v npm >/dev/null && command -v node >/dev/null; then
    if [ ! -x "$vite_dir/node_modules/.bin/vite" ]; then
        echo "Installing vite into $vite_dir"
        mkdir -p "$vite_dir"
        (cd "$vite_dir" && npm init -y >/dev/null && npm install --no-audit --no-fund vite >/dev/null)
    fi
    vite_port=$(free_port)
    cat >"$work/vite.config.mjs" <<CONFIG
export default {
  logLevel: 'silent',
  server: { proxy: { '/api': { target: 'http://127.0.0.1:$nginx_port', rewrite: (p) => p.replace(/^\/api/, '') } } },
};
CONFIG
    (cd "$work" && exec "$vite_dir/node_modules/.bin/vite" --config "$work/vite.config.mjs" --host 127.0.0.1 \
        --port "$vite_port" --strictPort >/dev/null 2>&1) &
    pids+=($!)
    wait_for_port "$vite_port" api/small.html
else
    echo "npm is missing: vite's proxy is left out"
fi

# latency PORT PATH: "median worst" in ms of one connection's requests.
latency() {
    local output
    output=$(wrk -t1 -c1 -d"$DURATION" --latency "http://127.0.0.1:$1/$2")
    awk '/^ +50%/ {median = $2} /^ +Latency +[0-9]/ {worst = $4}
         function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; return v * 1000 }
         END {printf "%.3f %.3f", ms(median), ms(worst)}' <<<"$output"
}

names=(direct proxy)
declare -A port=([direct]=$nginx_port [proxy]=$proxy_port [vite]=$vite_port)
declare -A path=([direct]=small.html [proxy]=api/small.html [vite]=api/small.html)
[ -n "$vite_port" ] && names+=(vite)
declare -A rps_of median_of worst_of
for round in $(seq "$ROUNDS"); do
    # Each round in another order, so that a load beside the benchmark falls on all alike.
    order=("${names[@]:$((round % ${#names[@]}))}" "${names[@]:0:$((round % ${#names[@]}))}")
    for name in "${order[@]}"; do
        rps_of[$name]+=" $(rps "${port[$name]}" 50 "${path[$name]}")"
        read -r median worst <<<"$(latency "${port[$name]}" "${path[$name]}")"
        median_of[$name]+=" $median"
        worst_of[$name]+=" $worst"
    done
    echo "round $round done"
done

echo
echo "1 KiB file from nginx (1 worker); wrk -t2 -c50 requests/s and wrk -t1 -c1 latency (median of $ROUNDS rounds):"
results=""
for name in "${names[@]}"; do
    r=$(echo "${rps_of[$name]}" | median)
    m=$(echo "${median_of[$name]}" | median)
    w=$(echo "${worst_of[$name]}" | tr ' ' '\n' | grep . | sort -g | tail -1)
    printf "  %-7s %9s req/s   latency median %s ms, worst %s ms   (rounds:%s req/s)\n" "$name" "$r" "$m" "$w" \
        "${rps_of[$name]}"
    results+="${name}_rps=$r ${name}_median_ms=$m ${name}_worst_ms=$w "
    declare "r_$name=$r" "m_$name=$m"
done
# shellcheck disable=SC2154
added=$(awk -v a="$m_proxy" -v b="$m_direct" 'BEGIN {printf "%.3f", a - b}')
echo "  the proxy adds $added ms to the median and serves $(ratio "$r_proxy" "$r_direct") of nginx's requests a second"
echo "${results}proxy_added_ms=$added proxy_share=$(ratio "$r_proxy" "$r_direct")"
