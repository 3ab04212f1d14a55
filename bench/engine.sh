#!/usr/bin/env bash
# The server engine against nginx (one worker, sendfile on, access log off) and against other
# builds of `mongoose`, in one run, all on loopback; prints one table. Each case starts each server
# afresh and ends it by its PID:
#   - 1 KiB file, keep-alive, wrk -t2 -c50; 10 MiB file, wrk -t2 -c4: requests/s, and the server's
#     CPU (utime + stime from /proc/PID/stat, all its processes) per request; medians of ROUNDS,
#     interleaved
#   - idle RSS and threads (nginx: its two processes together)
#   - IDLE (10,000) idle connections held, 20 fresh GETs meanwhile (median, worst)
#   - SLOW (500) slowloris clients, 20 fresh GETs meanwhile
#   - ours only: a live-reload socket that sends pings and never reads beside a page's socket:
#     save to the page's message (aim: under 200 ms), fresh GETs and handshakes meanwhile
#   - ours only: LIVE (1,000) live sockets, from a save until all of them had their message
#   - SIGTERM to exit with 100 keep-alive connections open (median of STOPS)
#   - exec to the ready line (nginx has none: to its first accepted connection), median of 20
#   - drop to browser: bench/drop-to-page.sh's median release-to-open, for each server that names a
#     build folder (OLD_BUILD, NEW_BUILD); DROPS=0 skips it
# Servers: OLD (default BUILD_DIR/bin/mongoose; OLD= leaves it out) and NEW (optional), each copied
# under another name first (the tool's sweep ends every process named `mongoose`); NGINX=0 leaves
# nginx out. CASES picks the cases (default: throughput idle slow live stop drop).
#
# Usage: OLD=build/bin/mongoose NEW=build-new/bin/mongoose NEW_BUILD=build-new bench/engine.sh
#        (BUILD_DIR=build ROUNDS=3 DURATION=5s IDLE=10000 SLOW=500 LIVE=1000 STOPS=5 DROPS=10)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
IDLE=${IDLE:-10000}
SLOW=${SLOW:-500}
LIVE=${LIVE:-1000}
STOPS=${STOPS:-5}
DROPS=${DROPS:-10}
OLD=${OLD-$SERVER}
NEW=${NEW:-}
NGINX=${NGINX:-1}
CASES=" ${CASES:-throughput idle slow live stop drop} "
run() { [[ $CASES == *" $1 "* ]]; }
OLD_BUILD=${OLD_BUILD:-$BUILD_DIR}
NEW_BUILD=${NEW_BUILD:-}
ENGINE=${ENGINE:-$BUILD_DIR/bin/bench_engine}

install_tools wrk nginx:nginx-light curl
NGINX_BIN=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$ENGINE" ] || cmake --build "$BUILD_DIR" --target bench_engine -- -j2 >/dev/null
names=()
[ "$NGINX" = 1 ] && names+=(nginx)
for name in OLD NEW; do
    [ -z "${!name}" ] && continue
    [ -x "${!name}" ] || { echo "error: $name=${!name} is not a program" >&2; exit 1; }
    names+=("${name,,}")
done

# 10,000 connections take as many descriptors on each side; the servers inherit the limit.
ulimit -n "$(ulimit -Hn)"
[ "$(ulimit -n)" -gt $((IDLE + 1000)) ] || echo "warning: only $(ulimit -n) descriptors; IDLE=$IDLE will not fit" >&2

# The served folders in memory when possible: saves on a shared disk stall behind other writes.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
SERVER=${OLD:-${NEW:-$SERVER}} make_work_folder
chmod 755 "$work" # nginx's worker runs as an unprivileged user
for name in "${names[@]}"; do
    mkdir -p "$work/site-$name"
    head -c 1024 /dev/urandom >"$work/site-$name/small.html"
    head -c $((10 * 1024 * 1024)) /dev/urandom >"$work/site-$name/big.bin"
    printf '<!DOCTYPE html><html><body><p>engine</p></body></html>\n' >"$work/site-$name/index.html"
    upper=${name^^}
    [ "$name" = nginx ] || cp "${!upper}" "$work/mongoose-bench-$name"
done
mkdir -p "$work/nginx"
log=$work/log
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
note() { echo "[$(date -u +%H:%M:%S) load $(loadavg)] $*" | tee -a "$log" >&2; }

# command NAME PORT: the server's command line (run from its served folder).
command_of() {
    if [ "$1" = nginx ]; then
        nginx_conf "$work/nginx/nginx-$2.conf" "$2" "$work/site-nginx" 1 $(($(ulimit -n) - 100)) \
            "worker_rlimit_nofile $(ulimit -n);"
        echo "$NGINX_BIN -c $work/nginx/nginx-$2.conf -p $work/nginx"
    else
        echo "$work/mongoose-bench-$1 $2"
    fi
}

# start NAME: the server on a free port; sets `port`, `pid` and `serving` (its processes' PIDs).
start() {
    port=$(free_port)
    # shellcheck disable=SC2046
    (cd "$work/site-$1" && exec $(command_of "$1" "$port") >/dev/null) &
    pid=$!
    pids+=("$pid")
    wait_for_port "$port" small.html
    serving=$pid
    if [ "$1" = nginx ]; then
        for _ in $(seq 100); do
            serving="$pid $(pgrep -P "$pid" | tr '\n' ' ')"
            [ "$(wc -w <<<"$serving")" -ge 2 ] && break
            sleep 0.05
        done
    fi
}
finish() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cpu_ticks() {
    local total=0 p
    for p in "$@"; do total=$((total + $(sed 's/.*) //' "/proc/$p/stat" | awk '{print $12 + $13}'))); done
    echo "$total"
}
status_sum() {
    local total=0 p field=$1
    shift
    for p in "$@"; do total=$((total + $(awk -v f="$field:" '$1 == f {print $2}' "/proc/$p/status"))); done
    echo "$total"
}
value() { grep -o "$1=[-0-9.]*" "$2" | tail -1 | cut -d= -f2; }
declare -A R

# ---- Throughput and CPU per request: all servers up at once, rounds interleaved.
if run throughput; then
    note "throughput: ${names[*]}, $ROUNDS rounds of $DURATION"
    declare -A tport tserving tpid
    for name in "${names[@]}"; do
        start "$name"
        tport[$name]=$port tserving[$name]=$serving tpid[$name]=$pid
    done
    hz=$(getconf CLK_TCK)
    declare -A rates cpus
    for round in $(seq "$ROUNDS"); do
        for kind in small big; do
            for name in "${names[@]}"; do
                if [ $kind = small ]; then args=(-c50 "http://127.0.0.1:${tport[$name]}/small.html"); else args=(-c4 "http://127.0.0.1:${tport[$name]}/big.bin"); fi
                # shellcheck disable=SC2086
                before=$(cpu_ticks ${tserving[$name]})
                wrk -t2 -d"$DURATION" "${args[@]}" >"$work/wrk.txt"
                # shellcheck disable=SC2086
                after=$(cpu_ticks ${tserving[$name]})
                if grep -q "Non-2xx" "$work/wrk.txt"; then
                    cat "$work/wrk.txt" >&2
                    echo "error: $name answered with errors" >&2
                    exit 1
                fi
                requests=$(awk '/requests in/ {print $1}' "$work/wrk.txt")
                rates[${kind}_$name]+=" $(awk '/Requests\/sec/ {print $2}' "$work/wrk.txt")"
                cpus[${kind}_$name]+=" $(awk -v t=$((after - before)) -v r="$requests" -v hz="$hz" 'BEGIN {printf "%.2f", t * 1e6 / hz / r}')"
            done
        done
        note "round $round done"
    done
    for name in "${names[@]}"; do
        pid=${tpid[$name]}
        finish
        R[small_rps,$name]=$(echo "${rates[small_$name]}" | median)
        R[small_cpu,$name]=$(echo "${cpus[small_$name]}" | median)
        R[big_rps,$name]=$(echo "${rates[big_$name]}" | median)
        R[big_cpu,$name]=$(awk -v us="$(echo "${cpus[big_$name]}" | median)" 'BEGIN {printf "%.2f", us / 1000}')
    done
fi

# ---- Idle, then IDLE idle connections on the same fresh instance.
for name in "${names[@]}"; do
    run idle || break
    start "$name"
    sleep 1
    # shellcheck disable=SC2086
    R[rss,$name]=$(awk -v k="$(status_sum VmRSS $serving)" 'BEGIN {printf "%.1f", k / 1024}')
    # shellcheck disable=SC2086
    R[threads,$name]=$(status_sum Threads $serving)
    note "$name: $IDLE idle connections"
    # shellcheck disable=SC2086
    "$ENGINE" idle "$port" "$IDLE" /small.html $serving | tee -a "$log" >"$work/case.txt"
    R[idle_held,$name]="$(value idle_connected "$work/case.txt") / $(value idle_server_sockets "$work/case.txt") / $(value idle_held "$work/case.txt")"
    R[idle_get,$name]="$(value idle_get_median_ms "$work/case.txt") / $(value idle_get_worst_ms "$work/case.txt") / $(value idle_get_failed "$work/case.txt")"
    finish
    sleep 1
done

for name in "${names[@]}"; do
    run slow || break
    start "$name"
    note "$name: $SLOW slowloris clients"
    "$ENGINE" slowloris "$port" "$SLOW" /small.html | tee -a "$log" >"$work/case.txt"
    R[slow_get,$name]="$(value slow_get_median_ms "$work/case.txt") / $(value slow_get_worst_ms "$work/case.txt") / $(value slow_get_failed "$work/case.txt")"
    finish
done

# ---- Live reload: ours only.
for name in "${names[@]}"; do
    run live || break
    [ "$name" = nginx ] && continue
    start "$name"
    note "$name: ping flood beside a page"
    "$ENGINE" pingflood "$port" "$work/site-$name" /small.html 5 | tee -a "$log" >"$work/case.txt"
    R[flood_save,$name]="$(value flood_save_median_ms "$work/case.txt") / $(value flood_save_worst_ms "$work/case.txt") / $(value flood_save_failed "$work/case.txt")"
    R[flood_get,$name]="$(value flood_get_worst_ms "$work/case.txt") / $(value flood_handshake_worst_ms "$work/case.txt") / $(($(value flood_get_failed "$work/case.txt") + $(value flood_handshake_failed "$work/case.txt")))"
    finish
    start "$name"
    note "$name: $LIVE live sockets"
    "$ENGINE" live "$port" "$work/site-$name" "$LIVE" 3 | tee -a "$log" >"$work/case.txt"
    R[live,$name]="$(value live_opened "$work/case.txt") / $(value live_all_median_ms "$work/case.txt") / $(value live_all_worst_ms "$work/case.txt")"
    finish
done

# ---- Stop and start: the engine starts and ends these itself.
for name in "${names[@]}"; do
    run stop || break
    note "$name: stop with 100 keep-alive connections, exec to ready"
    port=$(free_port)
    # shellcheck disable=SC2046
    (cd "$work/site-$name" && "$ENGINE" stop "$port" 100 "$STOPS" /small.html -- $(command_of "$name" "$port")) |
        tee -a "$log" >"$work/case.txt"
    R[stop,$name]="$(value stop_median_ms "$work/case.txt") / $(value stop_worst_ms "$work/case.txt")"
    mode=line
    [ "$name" = nginx ] && mode=port
    # shellcheck disable=SC2046
    (cd "$work/site-$name" && "$ENGINE" ready "$port" 20 $mode -- $(command_of "$name" "$port")) |
        tee -a "$log" >"$work/case.txt"
    R[ready,$name]=$(value ready_median_ms "$work/case.txt")
    [ "$name" = nginx ] && R[ready,$name]="${R[ready,$name]} (port)"
    R[spawn,$name]=$(value spawn_median_ms "$work/case.txt")
done

# ---- Drop to browser, through the tool and its own server build.
for name in old new; do
    run drop || break
    build_var=${name^^}_BUILD
    if [ "$DROPS" -eq 0 ] || [ -z "${!build_var}" ] || [[ " ${names[*]} " != *" $name "* ]]; then
        continue
    fi
    note "$name: $DROPS drops (bench/drop-to-page.sh, BUILD_DIR=${!build_var})"
    if BUILD_DIR=${!build_var} "$ROOT/bench/drop-to-page.sh" "$DROPS" >"$work/drop.txt" 2>&1; then
        tee -a "$log" <"$work/drop.txt" >/dev/null
        R[drop,$name]="$(awk '/median release-to-open/ {print $(NF-1)}' "$work/drop.txt") / $(awk '/median release-to-server/ {print $(NF-1)}' "$work/drop.txt")"
    else
        cat "$work/drop.txt" >&2
        R[drop,$name]="failed"
    fi
done

echo
echo "== Engine, one run, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores; load average at the end $(loadavg)"
echo "   (a / b / c reads as named in the row; times in ms; -1: never came)"
row() {
    local key=$1 label=$2 name
    printf '%-58s' "$label"
    for name in "${names[@]}"; do printf ' | %-22s' "${R[$key,$name]:-n/a}"; done
    echo
}
printf '%-58s' ""
for name in "${names[@]}"; do printf ' | %-22s' "$name"; done
echo
row small_rps "1 KiB, wrk -t2 -c50 -d$DURATION, requests/s (median of $ROUNDS)"
row small_cpu "1 KiB, server CPU per request, us"
row big_rps "10 MiB, wrk -t2 -c4, requests/s"
row big_cpu "10 MiB, server CPU per request, ms"
row rss "idle RSS, MiB (nginx: its processes)"
row threads "idle threads (nginx: its processes)"
row idle_held "$IDLE idle: connected / server's sockets / open at the end"
row idle_get "$IDLE idle: fresh GET median / worst / failed"
row slow_get "$SLOW slowloris: fresh GET median / worst / failed"
row flood_save "ping flood: save to message median / worst / missed"
row flood_get "ping flood: fresh GET worst / handshake worst / failed"
row live "$LIVE live sockets: opened / save to all median / worst"
row stop "stop, 100 keep-alive: median / worst of $STOPS"
row ready "exec to ready line, median of 20"
row spawn "  (exec of /bin/true alone, median of 20)"
row drop "drop to browser: release-to-open / -to-server, median"
echo "Details, with the load average at each step:"
sed 's/^/  /' "$log"
