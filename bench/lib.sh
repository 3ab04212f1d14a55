# shellcheck shell=bash
# Shared by the wrk benchmarks (sourced, not run): their defaults, their tools, a scratch folder
# cleaned up on exit, and servers started on free loopback ports.
#   ROOT, BUILD_DIR (default build), ROUNDS (3), DURATION (5s), SERVER (the built `mongoose`)

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
ROUNDS=${ROUNDS:-3}
DURATION=${DURATION:-5s}
SERVER=$BUILD_DIR/bin/mongoose

# install_tools COMMAND[:PACKAGE]...
# The benchmark's own tools, installed here rather than by the project's set-up.
install_tools() {
    local missing=() tool command
    for tool in "$@"; do
        command=${tool%%:*}
        command -v "$command" >/dev/null || [ -x "/usr/sbin/$command" ] || missing+=("${tool#*:}")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing benchmark tools: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo=sudo
        $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# make_work_folder: sets `work` (a scratch folder), `site` (an empty folder to serve in it) and
# `pids` (background processes, ended on exit), and copies the server in as `mongoose-bench`.
make_work_folder() {
    work=$(mktemp -d)
    pids=()
    trap cleanup EXIT
    # A copy under another name: the tool and its tests end every process named `mongoose`, which
    # would otherwise end the benchmark's server halfway through a run.
    cp "$SERVER" "$work/mongoose-bench"
    site=$work/site
    mkdir -p "$site"
}
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# start_server ARGUMENTS...: the server copy, serving `site`, in the background (its pid in $!).
start_server() {
    (cd "$site" && exec "$work/mongoose-bench" "$@" >/dev/null) &
    pids+=($!)
}

# wait_for_port PORT PATH: until something answers HTTP there, or fails.
wait_for_port() {
    for _ in $(seq 200); do
        curl -s -o /dev/null "http://127.0.0.1:$1/$2" && return 0
        sleep 0.05
    done
    echo "error: nothing listens on port $1" >&2
    exit 1
}

# rps PORT CONNECTIONS PATH [WRK OPTIONS...]: requests per second; fails on any non-2xx answer.
rps() {
    local port=$1 connections=$2 path=$3
    shift 3
    local output
    output=$(wrk -t2 -c"$connections" -d"$DURATION" "$@" "http://127.0.0.1:$port/$path")
    if grep -q "Non-2xx" <<<"$output"; then
        echo "error: port $port answered $path with errors:" >&2
        echo "$output" >&2
        exit 1
    fi
    awk '/Requests\/sec/ {print $2}' <<<"$output"
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# nginx_conf FILE PORT ROOT WORKERS CONNECTIONS [EXTRA]: a static nginx on 127.0.0.1 with sendfile
# on and no access log, its state kept in the folder of FILE.
nginx_conf() {
    local dir
    dir=$(dirname "$1")
    cat >"$1" <<CONF
worker_processes $4;
${6:-}
daemon off;
pid $1.pid;
error_log $dir/error.log;
events { worker_connections $5; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    server { listen 127.0.0.1:$2; root $3; }
}
CONF
}
