#!/usr/bin/env bash
# Live reload against two common development servers, vite and live-server, in one interleaved run:
# from a save to the new page starting, from a CSS save to the style applied, and from the reload
# message reaching the browser to the style applied. Headless Chromium (Debian's /usr/bin/chromium)
# is driven by puppeteer-core; details in bench/live-reload-peers.mjs. Prints a Markdown table.
#
# Usage: bench/live-reload-peers.sh      (BUILD_DIR=build SAVES=20 by default)
# The Node packages (pinned below) are installed by npm into $BUILD_DIR/bench-node on the first run;
# without npm the benchmark is skipped. Everything listens on 127.0.0.1 only. Our server runs as a
# copy under another name, so the tool's sweep cannot end it halfway.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
SAVES=${SAVES:-20}
chromium=/usr/bin/chromium
packages=(puppeteer-core@25.19.0 vite@8.4.1 live-server@1.2.2)

if ! command -v npm >/dev/null || ! command -v node >/dev/null; then
    echo "skipped: npm and node are needed for the peers (apt-get install npm)"
    exit 0
fi
if [ ! -x "$chromium" ]; then
    echo "skipped: $chromium not found (apt-get install chromium)"
    exit 0
fi
if ! [[ "$SAVES" =~ ^[1-9][0-9]*$ ]]; then
    echo "error: SAVES must be a positive number, not '$SAVES'" >&2
    exit 1
fi
cmake --build "$BUILD_DIR" --target mongoose -- -j2 >/dev/null

node_dir=$BUILD_DIR/bench-node
installed() { [ -f "$node_dir/node_modules/$1/package.json" ] && grep -q "\"version\": \"$2\"" "$node_dir/node_modules/$1/package.json"; }
missing=()
for package in "${packages[@]}"; do
    installed "${package%@*}" "${package##*@}" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing into $node_dir: ${missing[*]}"
    mkdir -p "$node_dir"
    # No install scripts: none of the three needs one to run here.
    npm install --prefix "$node_dir" --save-exact --no-audit --no-fund --ignore-scripts --loglevel=error \
        "${packages[@]}" >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/corvan-peers.XXXXXX")
node_pid=
cleanup() {
    [ -n "$node_pid" ] && kill "$node_pid" 2>/dev/null || true
    # Whatever the Node script started and left behind (it was killed, say): by id, and only if the
    # process still names this run's folder on its command line.
    if [ -f "$work/pids" ]; then
        while read -r pid; do
            if tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF "$work"; then kill -9 "$pid" 2>/dev/null || true; fi
        done <"$work/pids"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cp "$BUILD_DIR/bin/mongoose" "$work/mongoose-peers"

# Bounded: twenty saves of each kind take about a minute; a hung browser or server cannot hold the run.
timeout --kill-after=10 600 node "$ROOT/bench/live-reload-peers.mjs" "$node_dir" "$work/mongoose-peers" "$chromium" \
    "$work" "$SAVES" &
node_pid=$!
wait "$node_pid"
