#!/usr/bin/env bash
# Fairness when a server's places run out, and its stop under load: this server against nginx (one
# worker, sendfile on, access log off) in one run, all on loopback, each server started afresh and
# ended by its PID:
#   - FRESH (100) fresh GETs spread over 10 s while one client holds connections that never send a
#     byte, opening each again as soon as it is closed: HOLD (4,300) of them with the servers under
#     `ulimit -n 4096`, then HOLD_SMALL (300) under `ulimit -n 256`; answered, median, worst
#   - SIGTERM to exit, median / worst of STOPS: idle; with IDLE (10,000) idle connections and 20
#     live-reload sockets; with STALLED (1,000) 10 MiB downloads that are never read and 20 live
#     sockets; and how many live pages were told 1001 (going away) in every stop. Beside each, a
#     bare program (bench_fair bare) that holds the same sockets and exits: the kernel's own part.
#     nginx and the bare program hold plain idle connections in place of the live sockets.
# Servers: NEW (default BUILD_DIR/bin/mongoose) and OLD (optional, another build to compare), each
# copied under another name first (the tool's sweep ends every process named `mongoose`); NGINX=0
# leaves nginx out. CASES picks the cases (default: fresh stop).
#
# Usage: bench/fair.sh   (BUILD_DIR=build OLD=path/to/mongoose STOPS=3 FRESH=100 HOLD=4300 ...)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
FRESH=${FRESH:-100}
HOLD=${HOLD:-4300}
HOLD_SMALL=${HOLD_SMALL:-300}
IDLE=${IDLE:-10000}
STALLED=${STALLED:-1000}
LIVE=20
STOPS=${STOPS:-3}
NEW=${NEW:-$SERVER}
OLD=${OLD:-}
NGINX=${NGINX:-1}
CASES=" ${CASES:-fresh stop} "
run() { [[ $CASES == *" $1 "* ]]; }
FAIR=${FAIR:-$BUILD_DIR/bin/bench_fair}

install_tools nginx:nginx-light curl
NGINX_BIN=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$FAIR" ] || cmake --build "$BUILD_DIR" --target bench_fair -- -j2 >/dev/null
names=(new)
[ -n "$OLD" ] && names+=(old)
[ "$NGINX" = 1 ] && names+=(nginx)
for name in new old; do
    upper=${name^^}
    [ -z "${!upper}" ] || [ -x "${!upper}" ] || { echo "error: $upper=${!upper} is not a program" >&2; exit 1; }
done

# The holders and the 10,000-connection stops need as many descriptors on the client's side.
ulimit -n "$(ulimit -Hn)"
[ "$(ulimit -n)" -gt $((IDLE + 1000)) ] || echo "warning: only $(ulimit -n) descriptors; IDLE=$IDLE will not fit" >&2
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
SERVER=$NEW make_work_folder
chmod 755 "$work" "$site" # nginx's worker runs as an unprivileged user
head -c 1024 /dev/urandom >"$site/small.html"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$site/big.bin"
printf '<!DOCTYPE html><html><body><p>fair</p></body></html>\n' >"$site/index.html"
cp "$NEW" "$work/mongoose-bench-new"
[ -n "$OLD" ] && cp "$OLD" "$work/mongoose-bench-old"
mkdir -p "$work/nginx"
log=$work/log
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
note() { echo "[$(date -u +%H:%M:%S) load $(loadavg)] $*" | tee -a "$log" >&2; }
value() { grep -o "$1=[-0-9.]*" "$2" | tail -1 | cut -d= -f2; }

# command_of NAME PORT CONNECTIONS: the server's command line, run from the served folder; nginx
# gets CONNECTIONS as its worker_connections.
command_of() {
    case $1 in
    nginx)
        nginx_conf "$work/nginx/nginx-$2.conf" "$2" "$site" 1 "$3" ""
        echo "$NGINX_BIN -c $work/nginx/nginx-$2.conf -p $work/nginx"
        ;;
    bare) echo "$FAIR bare $2" ;;
    *) echo "$work/mongoose-bench-$1 $2" ;;
    esac
}
declare -A R

# ---- Fresh GETs while a holder keeps every place it can get.
# fresh_case NAME LIMIT HOLDERS KEY
fresh_case() {
    local name=$1 limit=$2 holders=$3 key=$4 port pid holder
    port=$(free_port)
    # shellcheck disable=SC2046
    (cd "$site" && ulimit -n "$limit" && exec $(command_of "$name" "$port" $((limit - 32))) >/dev/null) &
    pid=$!
    pids+=("$pid")
    wait_for_port "$port" small.html
    # Beyond the last GET's time and its 5 s timeout.
    "$FAIR" hold "$port" "$holders" 22 >"$work/hold.txt" &
    holder=$!
    pids+=("$holder")
    sleep 5 # the holder takes every place it can
    "$FAIR" fresh "$port" "$FRESH" 10 /small.html | tee -a "$log" >"$work/case.txt"
    wait "$holder" || true
    tee -a "$log" <"$work/hold.txt" >/dev/null
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    R[$key,$name]="$(value fresh_answered "$work/case.txt")/$FRESH, $(value fresh_median_ms "$work/case.txt") / $(value fresh_worst_ms "$work/case.txt")"
}
for name in "${names[@]}"; do
    run fresh || break
    note "$name: $FRESH fresh GETs beside $HOLD idle connections, ulimit -n 4096"
    fresh_case "$name" 4096 "$HOLD" big
    note "$name: $FRESH fresh GETs beside $HOLD_SMALL idle connections, ulimit -n 256"
    fresh_case "$name" 256 "$HOLD_SMALL" small
done

# ---- Stops: bench_fair starts and ends the server itself, STOPS times a case.
# stop_case NAME KEY IDLE LIVE STALLED: the live sockets are plain idle connections but for ours.
stop_case() {
    local name=$1 key=$2 idle=$3 live=$4 stalled=$5 port
    if [ "$name" = nginx ] || [ "$name" = bare ]; then
        idle=$((idle + live))
        live=0
    fi
    port=$(free_port)
    # shellcheck disable=SC2046
    (cd "$site" && "$FAIR" stop "$port" "$idle" "$live" "$stalled" /big.bin "$STOPS" -- \
        $(command_of "$name" "$port" $(($(ulimit -n) - 100)))) | tee -a "$log" >"$work/case.txt"
    R[$key,$name]="$(value stop_median_ms "$work/case.txt") / $(value stop_worst_ms "$work/case.txt")"
    [ "$live" -gt 0 ] && R[$key,$name]+=" ($(value stop_live_told "$work/case.txt")/$live told)"
    return 0
}
for name in "${names[@]}" bare; do
    run stop || break
    note "$name: stops idle, with $IDLE idle connections, with $STALLED stalled downloads"
    stop_case "$name" stop_idle 0 0 0
    stop_case "$name" stop_many "$IDLE" "$LIVE" 0
    stop_case "$name" stop_stalled 0 "$LIVE" "$STALLED"
done

echo
echo "== Fair places and stops, one run, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores; load average at the end $(loadavg)"
echo "   (times in ms; -1: never came)"
row() {
    local key=$1 label=$2 name
    shift 2
    printf '%-62s' "$label"
    for name in "$@"; do printf ' | %-26s' "${R[$key,$name]:--}"; done
    echo
}
printf '%-62s' ""
for name in "${names[@]}" bare; do printf ' | %-26s' "$name"; done
echo
row big "ulimit -n 4096, $HOLD idle held: GETs answered, median / worst" "${names[@]}" bare
row small "ulimit -n 256, $HOLD_SMALL idle held: GETs answered, median / worst" "${names[@]}" bare
row stop_idle "stop, idle: median / worst of $STOPS" "${names[@]}" bare
row stop_many "stop, $IDLE idle + $LIVE live: median / worst" "${names[@]}" bare
row stop_stalled "stop, $STALLED stalled downloads + $LIVE live: median / worst" "${names[@]}" bare
echo "Details, with the load average at each step:"
sed 's/^/  /' "$log"
