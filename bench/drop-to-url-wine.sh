#!/usr/bin/env bash
# Drop-to-URL times of the Windows release under wine, with the Windows end-to-end suite's harness
# (scripts/windows-e2e.sh builds the release and runs tst_e2e_wine): each drop is a real drag of
# "Ünïcode page #2.html" from a fresh folder onto CorvanHTMLStarter.exe, timed from the mouse
# release to
#   server: mongoose.exe answers with the dropped page (polled about every 10 ms),
#   open:   the address reaches the browser (wine's winebrowser, then the stand-in xdg-open),
#   page:   headless Chromium has run the page (a cold browser start included).
# Prints every drop and the medians.
#
# Usage: bench/drop-to-url-wine.sh [DROPS]   (default 10)
# Uses port 8721 and a private X display: run it alone (flock /tmp/corvan-tests.lock ...).
set -euo pipefail

drops=${1:-10}
if ! [[ "$drops" =~ ^[1-9][0-9]*$ ]]; then
    echo "error: DROPS must be a positive number, not '$drops'" >&2
    exit 1
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
log=$(mktemp)
trap 'rm -f "$log"' EXIT

functions=(staleServerRunsBeforeTheFirstDrop)
for _ in $(seq "$drops"); do functions+=(droppedPageRunsOverHttp); done
functions+=(closeButtonEndsToolAndServer)
if ! "$root/scripts/windows-e2e.sh" "${functions[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    echo "error: a drop failed" >&2
    exit 1
fi

grep '^timing:' "$log" | sed 's/^timing: //'
median() {
    grep -o "$1=[0-9]*" "$log" | cut -d= -f2 | sort -n |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "drops: $drops (under wine)"
echo "median release-to-server: $(median release-to-server-ms) ms"
echo "median release-to-open:   $(median release-to-open-ms) ms"
echo "median release-to-page:   $(median release-to-page-ms) ms"
