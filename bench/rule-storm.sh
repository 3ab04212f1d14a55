#!/usr/bin/env bash
# A rule file saved in place over and over while a single-page app is asked for a deep link: each
# save truncates _redirects, writes half of it (cut right after the SPA rule's path), waits 2 ms and
# writes the rest. A server that reads the file half-written loses the SPA rule (the deep link
# answers 404 until the next read) and prints a notice for the half line. wrk -t2 -c10 asks for
# /settings/profile for as long as the saves go on.
# Prints the share of wrong (non-2xx) answers, the notices printed, the answer after the storm, and
# how soon one more save's new rule is in force.
#
# Usage: bench/rule-storm.sh      (BUILD_DIR=build SAVES=854 by default)
set -euo pipefail

SAVES=${SAVES:-854}
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
[ -x "$SERVER" ] || { echo "error: $SERVER is missing; build first (make build)" >&2; exit 1; }
install_tools wrk curl python3

make_work_folder
printf '<!DOCTYPE html><html><body><div id="app"></div></body></html>\n' >"$site/index.html"
echo '{}' >"$site/api.json"
rules=$'/api/*  /api.json  200\n/*  /index.html  200\n'
printf '%s' "$rules" >"$site/_redirects"

port=$(free_port)
(cd "$site" && exec "$work/mongoose-bench" "$port" >/dev/null 2>"$work/stderr") &
pids+=($!)
wait_for_port "$port" index.html
[ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/settings/profile")" = 200 ] ||
    { echo "error: the deep link is not served before the storm" >&2; exit 1; }

# storm FILE: the saves; prints how long they took.
storm() {
    python3 - "$1" "$SAVES" "$rules" <<'PY'
import os, sys, time
path, saves, text = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
cut = text.index(b"/*  /index") + 2
start = time.monotonic()
for _ in range(saves):
    fd = os.open(path, os.O_WRONLY | os.O_TRUNC | os.O_CREAT, 0o644)
    os.write(fd, text[:cut])
    time.sleep(0.002)
    os.write(fd, text[cut:])
    os.close(fd)
print("%.2f" % (time.monotonic() - start))
PY
}

# How long the saves take (of a file outside the site), so that wrk asks for as long as they go
# on, and no longer.
seconds=$(storm "$work/scratch")
duration=$(awk -v s="$seconds" 'BEGIN { d = int(s); print (d < 1 ? 1 : d) }')
wrk -t2 -c10 -d"${duration}s" "http://127.0.0.1:$port/settings/profile" >"$work/wrk" &
wrk_pid=$!
storm_seconds=$(storm "$site/_redirects")
wait "$wrk_pid"
# One more save, with a rule added: the server must read it once the writer is done.
printf '/old  /new  301\n%s' "$rules" >"$site/_redirects"
read_after=never
for i in $(seq 100); do
    if [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/old")" = 301 ]; then
        read_after="$((i * 10)) ms"
        break
    fi
    sleep 0.01
done

total=$(awk '/requests in/ {print $1}' "$work/wrk")
wrong=$(awk '/Non-2xx/ {print $NF}' "$work/wrk")
wrong=${wrong:-0}
notices=$(grep -c "_redirects line" "$work/stderr" || true)
after=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/settings/profile")

echo "$SAVES saves of _redirects in ${storm_seconds}s (truncate, half, 2 ms, rest), wrk -t2 -c10 -d${duration}s"
echo "  answers:        $total"
echo "  wrong (non-2xx): $wrong ($(awk -v w="$wrong" -v t="$total" 'BEGIN { printf "%.2f", t ? 100 * w / t : 0 }') %)"
echo "  notices printed: $notices"
echo "  deep link after the storm: $after"
echo "  a last save's new rule in force after: $read_after (checked every 10 ms)"
echo "wrong_percent=$(awk -v w="$wrong" -v t="$total" 'BEGIN { printf "%.2f", t ? 100 * w / t : 0 }') notices=$notices after=$after"
