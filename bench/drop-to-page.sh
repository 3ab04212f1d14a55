#!/usr/bin/env bash
# Drop-to-page times, as a user meets them: a real drag onto the tool under Xvfb, the real server,
# headless Chromium as the browser. Each drop comes from a fresh folder (so an older server's answer is
# never mistaken for the new one's) and is timed from the mouse release to
#   server: the server on port 8721 answers with the dropped page (polled about every 10 ms),
#   open:   the address reaches the browser (the stand-in xdg-open records it),
#   page:   Chromium has run the page's module, fetch and WebAssembly and dumped the DOM; this
#           includes the start of a cold headless Chromium, which no tool can avoid.
# Prints every drop and the medians. Uses the end-to-end suite's own harness (tests/e2e).
#
# Usage: bench/drop-to-page.sh [DROPS]   (default 10; BUILD_DIR defaults to build)
# Needs a build (make build) and the test packages (make test-deps). Ends every process named
# mongoose, like the tool itself: do not run it beside the test suite.
set -euo pipefail

drops=${1:-10}
build_dir=${BUILD_DIR:-build}
suite="$build_dir/bin/tst_e2e"
if [ ! -x "$suite" ]; then
    echo "error: $suite not found; build first (make build)" >&2
    exit 1
fi
if ! [[ "$drops" =~ ^[1-9][0-9]*$ ]]; then
    echo "error: DROPS must be a positive number, not '$drops'" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/corvan-drop-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"

functions=()
for _ in $(seq "$drops"); do functions+=(droppedPageRunsOverHttp); done
# The close button ends the tool and its server at the end.
functions+=(closeButtonEndsToolAndServer)

if ! CORVAN_E2E_OUTPUT_DIR="$work/output" XDG_RUNTIME_DIR="$work/runtime" QTEST_FUNCTION_TIMEOUT=300000 \
    "$suite" "${functions[@]}" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "error: a drop failed (screenshots and logs were in $work/output)" >&2
    exit 1
fi

grep '^timing:' "$work/log" | sed 's/^timing: //'
median() {
    grep -o "$1=[0-9]*" "$work/log" | cut -d= -f2 | sort -n |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "drops: $drops"
echo "median release-to-server: $(median release-to-server-ms) ms"
echo "median release-to-open:   $(median release-to-open-ms) ms"
echo "median release-to-page:   $(median release-to-page-ms) ms"
