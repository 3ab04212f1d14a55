#!/usr/bin/env bash
# Second-start times, as "Open with" meets them: the real tool under Xvfb, started once with a page,
# then started again with another page N times. Each later start must hand its page to the running
# tool and end with exit code 0; the running tool serves it. Timed from the later start to
#   exit: the later start has ended,
#   open: the address reaches the browser (a stand-in xdg-open records it with its time).
# Checks along the way that there is one window and one server, and that the close button ends both.
# Prints every start and the medians.
#
# Usage: bench/second-start.sh [STARTS]   (default 10; BUILD_DIR defaults to build)
# Needs a build (make build) and the test packages (make test-deps). Ends every process named
# mongoose, like the tool itself: run it under `flock -o /tmp/corvan-tests.lock`, not beside the tests.
set -euo pipefail

starts=${1:-10}
build_dir=${BUILD_DIR:-build}
tool="$(cd "$build_dir/bin" && pwd)/corvan-html-starter"
if [ ! -x "$tool" ]; then
    echo "error: $tool not found; build first (make build)" >&2
    exit 1
fi
if ! [[ "$starts" =~ ^[1-9][0-9]*$ ]]; then
    echo "error: STARTS must be a positive number, not '$starts'" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/corvan-second-start.XXXXXX")
xvfb_pid=
tool_pid=
cleanup() {
    [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/runtime"
mkdir "$work/bin" "$work/folder with blanks"
urls="$work/opened-urls.txt"
touch "$urls"
cat >"$work/bin/xdg-open" <<STUB
#!/bin/sh
printf '%s %s\n' "\$(date +%s%N)" "\$1" >>"$urls"
STUB
chmod +x "$work/bin/xdg-open"
for i in $(seq 0 "$starts"); do
    printf '<!doctype html><title>page %s</title>\n' "$i" >"$work/folder with blanks/Seite ü $i.html"
done

# Xvfb picks a free display and writes its number on the given descriptor.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 10 -u "$display_fd" display_number
exec {display_fd}<&-
export DISPLAY=":$display_number" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" PATH="$work/bin:$PATH"

lines() { wc -l <"$urls"; }
wait_for_urls() {
    for _ in $(seq 1000); do
        [ "$(lines)" -ge "$1" ] && return 0
        sleep 0.005
    done
    echo "error: the browser got no address ($(lines) of $1)" >&2
    exit 1
}
now() { date +%s%N; }

"$tool" "$work/folder with blanks/Seite ü 0.html" >"$work/first.log" 2>&1 &
tool_pid=$!
wait_for_urls 1
expected='http://localhost:8721/Seite%20%C3%BC%200.html'
if [ "$(cut -d' ' -f2- <"$urls")" != "$expected" ]; then
    echo "error: the first start opened $(cut -d' ' -f2- <"$urls"), not $expected" >&2
    exit 1
fi

exit_ms=()
open_ms=()
for i in $(seq "$starts"); do
    start=$(now)
    if ! "$tool" "$work/folder with blanks/Seite ü $i.html"; then
        echo "error: start $i did not end with exit code 0" >&2
        exit 1
    fi
    ended=$(now)
    wait_for_urls $((i + 1))
    read -r opened url < <(tail -n 1 "$urls")
    if [ "$url" != "http://localhost:8721/Seite%20%C3%BC%20$i.html" ]; then
        echo "error: start $i opened $url" >&2
        exit 1
    fi
    exit_ms+=($(((ended - start) / 1000000)))
    open_ms+=($(((opened - start) / 1000000)))
    echo "start $i: exit ${exit_ms[-1]} ms, open ${open_ms[-1]} ms"
done

windows=$(xdotool search --onlyvisible --name '^Corvan HTML Starter$' | wc -l)
servers=$(pgrep -c -x mongoose || true)
own_servers=$(pgrep -c -x -P "$tool_pid" mongoose || true)
echo "windows: $windows, servers: $servers (the tool's own: $own_servers)"
if [ "$windows" != 1 ] || [ "$servers" != 1 ] || [ "$own_servers" != 1 ]; then
    echo "error: expected one window and one server, the tool's own" >&2
    exit 1
fi

# The close button sits at the window's top right.
eval "$(xdotool search --onlyvisible --name '^Corvan HTML Starter$' getwindowgeometry --shell)"
xdotool mousemove $((X + WIDTH - 10)) $((Y + 8)) click 1
status=0
wait "$tool_pid" || status=$?
tool_pid=
if [ "$status" != 0 ] || pgrep -x mongoose >/dev/null; then
    echo "error: the close button left exit code $status, servers: $(pgrep -c -x mongoose || true)" >&2
    exit 1
fi

median() {
    printf '%s\n' "$@" | sort -n |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "starts: $starts"
echo "median start-to-exit: $(median "${exit_ms[@]}") ms"
echo "median start-to-open: $(median "${open_ms[@]}") ms"
