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
# The harness, the tool and the stand-in xdg-open also stamp each step on the wall clock
# (CORVAN_LAUNCH_TRACE, see launcher/LaunchTrace.h), so the tool's own part, from the drop event to
# the opener's start, is told apart from the X11 drag and the harness; the median of each step follows.
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

# A failed drop is reported and fails the run, but the others' figures are still printed: on the shared
# build machine another suite's sweep can end this run's server at any moment.
status=0
if ! CORVAN_LAUNCH_TRACE="$work/trace" CORVAN_E2E_OUTPUT_DIR="$work/output" XDG_RUNTIME_DIR="$work/runtime" QTEST_FUNCTION_TIMEOUT=300000 \
    "$suite" "${functions[@]}" >"$work/log" 2>&1; then
    grep -A1 '^FAIL' "$work/log" >&2 || cat "$work/log" >&2
    echo "error: $(grep -c '^FAIL' "$work/log") of $drops drops failed; the polled figures leave them out, the stamped steps count what each did" >&2
    status=1
fi

grep '^timing:' "$work/log" | sed 's/^timing: //'
median_of_lines() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
median() { grep -o "$1=[0-9]*" "$work/log" | cut -d= -f2 | median_of_lines; }
echo "drops: $drops ($(grep -c '^timing:' "$work/log") timed)"
echo "median release-to-server: $(median release-to-server-ms) ms (polled)"
echo "median release-to-open:   $(median release-to-open-ms) ms (polled)"
echo "median release-to-page:   $(median release-to-page-ms) ms (polled)"

# Each drop's stamps begin with the harness's release; a step is the time between two stamps, in ms.
steps='release button-release harness: xdotool starting until the drag source sees the release
button-release drop   X11 drag: the release reaching the tool as a drop event
drop    launch        drop event to the launch (the dropped file name fetched from the source)
launch  sweep         busy cursor
sweep   swept         sweep of running servers
swept   start         checks before the start
start   started       server process started (exec done)
started ready         server ready line read
ready   open          address built
open    opener        hand-over: the opener running
open    opened        (the hand-over returning to the tool)
drop    opener        TOOL: drop event to the opener running
button-release opener REAL DRAG: button release to the opener running
release opener        with the harness: xdotool starting to the opener running'
awk -v steps="$steps" '
    BEGIN { n = split(steps, rows, "\n") }
    $1 == "release" { ++drop }
    drop > 0 { at[drop, $1] = $2 }
    END {
        for (d = 1; d <= drop; ++d)
            for (r = 1; r <= n; ++r) {
                split(rows[r], f, " ")
                if ((d, f[1]) in at && (d, f[2]) in at)
                    printf "%d %.2f\n", r, (at[d, f[2]] - at[d, f[1]]) / 1000
            }
    }' "$work/trace" >"$work/steps"
echo
echo "stamped steps, median of $drops drops (ms):"
row=0
while IFS= read -r line; do
    row=$((row + 1))
    values=$(awk -v r="$row" '$1 == r { print $2 }' "$work/steps")
    [ -n "$values" ] || continue
    printf '  %8s  %s\n' "$(echo "$values" | median_of_lines)" "$(echo "$line" | sed 's/^[a-z-]* *[a-z-]* *//')"
done <<<"$steps"
exit $status
