#!/usr/bin/env bash
# Measures the `mongoose` server against nginx (sendfile on, access log off) and
# `python3 -m http.server`, all on loopback, interleaved, medians of ROUNDS runs of wrk:
#   - 1 KiB file, keep-alive, wrk -t2 -c50         (requests/s)
#   - 10 MiB file, wrk -t2 -c4                     (requests/s)
#   - peak RSS while one client downloads a 1 GiB file, idle RSS after start
#   - time from exec to the first accepted connection (median of 20 starts)
# Prints the figures, then one last line of name=value results.
#
# Usage: bench/server-throughput.sh            (BUILD_DIR=build ROUNDS=3 DURATION=5s by default)
set -euo pipefail

# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
[ -x "$SERVER" ] || { echo "error: $SERVER is missing; build first (make build)" >&2; exit 1; }

install_tools wrk nginx:nginx-light curl
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

make_work_folder
chmod 755 "$work" # nginx's workers run as an unprivileged user
head -c 1024 /dev/urandom >"$site/small.html"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$site/big.bin"
truncate -s 1G "$site/huge.bin" # sparse: costs no disk, still 1 GiB to stream

ours_port=$(free_port)
start_server "$ours_port"

nginx_port=$(free_port)
mkdir -p "$work/nginx"
nginx_conf "$work/nginx/nginx.conf" "$nginx_port" "$site" auto 1024
"$NGINX" -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)

python_port=$(free_port)
python3 -m http.server --bind 127.0.0.1 --directory "$site" "$python_port" >/dev/null 2>&1 &
pids+=($!)

wait_for_port "$ours_port" small.html
wait_for_port "$nginx_port" small.html
wait_for_port "$python_port" small.html

declare -A results
for round in $(seq "$ROUNDS"); do
    for name in ours nginx python; do
        port_var=${name}_port
        results[small_$name]+=" $(rps "${!port_var}" 50 small.html)"
    done
    for name in ours nginx; do
        port_var=${name}_port
        results[big_$name]+=" $(rps "${!port_var}" 4 big.bin)"
    done
    echo "round $round done"
done

small_ours=$(echo "${results[small_ours]}" | median)
small_nginx=$(echo "${results[small_nginx]}" | median)
small_python=$(echo "${results[small_python]}" | median)
big_ours=$(echo "${results[big_ours]}" | median)
big_nginx=$(echo "${results[big_nginx]}" | median)

# Memory: a fresh instance, idle, then while one client streams the 1 GiB file.
mem_port=$(free_port)
start_server "$mem_port"
mem_pid=$!
wait_for_port "$mem_port" small.html
sleep 0.5
idle_kib=$(awk '/VmRSS/ {print $2}' "/proc/$mem_pid/status")
curl -s -o /dev/null "http://127.0.0.1:$mem_port/huge.bin"
peak_kib=$(awk '/VmHWM/ {print $2}' "/proc/$mem_pid/status")

# Start-up: from spawn to the first accepted connection, next to the cost of spawning /bin/true
# (the part no program can save; on a busy machine it dominates).
startup=$(python3 - "$work/mongoose-bench" "$site" <<'PY'
import os, signal, socket, sys, time
binary, site = sys.argv[1], sys.argv[2]
os.chdir(site)
def median(values):
    return sorted(values)[len(values) // 2]
def start_once(argv, wait_for_port):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv + [str(port)], os.environ)
    if wait_for_port:
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.perf_counter() - start > 5:
                    sys.exit("server did not start")
        elapsed = time.perf_counter() - start
        os.kill(pid, signal.SIGTERM)
    os.waitpid(pid, 0)
    return (elapsed if wait_for_port else time.perf_counter() - start) * 1000
result = os.fdopen(os.dup(1), "w")
os.dup2(os.open(os.devnull, os.O_WRONLY), 1) # the servers' ready lines

server = median([start_once([binary], True) for _ in range(20)])
baseline = median([start_once(["/bin/true"], False) for _ in range(20)])
print(f"{server:.1f} {baseline:.1f}", file=result)
PY
)
read -r startup_ms spawn_ms <<<"$startup"

echo
echo "1 KiB file, wrk -t2 -c50 -d$DURATION, requests/s (median of $ROUNDS):"
echo "  mongoose $small_ours   nginx $small_nginx   python $small_python"
echo "10 MiB file, wrk -t2 -c4 -d$DURATION, requests/s (median of $ROUNDS):"
echo "  mongoose $big_ours   nginx $big_nginx"
echo "Memory: idle RSS $((idle_kib / 1024)).$(((idle_kib % 1024) * 10 / 1024)) MiB," \
    "peak RSS over a 1 GiB download $((peak_kib / 1024)).$(((peak_kib % 1024) * 10 / 1024)) MiB"
echo "Start-up: spawn to first accepted connection ${startup_ms} ms; spawning /bin/true alone ${spawn_ms} ms (medians of 20)"
echo "small_vs_nginx=$(ratio "$small_ours" "$small_nginx") small_vs_python=$(ratio "$small_ours" "$small_python")" \
    "big_vs_nginx=$(ratio "$big_ours" "$big_nginx") idle_rss_kib=$idle_kib peak_rss_kib=$peak_kib startup_ms=$startup_ms spawn_baseline_ms=$spawn_ms"
