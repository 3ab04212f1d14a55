#!/usr/bin/env bash
# Cross-builds the Qt-free layers (platform, corvancore, product identity, the server) for Windows x64 with
# mingw-w64 and runs their tests, and the Windows-only ones, under wine64. Installs the cross
# compiler and wine64 first when they are missing.
#
#   BUILD_DIR   build folder (default: build-windows)
#   JOBS        parallel build jobs (default: number of cores)
#   WERROR      ON (default) or OFF
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build-windows}"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"
wine64=/usr/lib/wine/wine64

"$root/scripts/install-deps.sh" --windows

# A private wine prefix inside the build folder: nothing of the user's own wine setup is touched,
# and a second run skips the prefix's first start (several seconds). No Mono or Gecko: the tests
# need neither, and wine would otherwise offer to install them.
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$build_dir"

cmake -S "$root/tests/windows" -B "$build_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCORVAN_WERROR="${WERROR:-ON}" >/dev/null
cmake --build "$build_dir" -j "$jobs"

# Done up front so the first test does not spend its time limit on it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing the wine prefix in $WINEPREFIX"
    "$wine64" wineboot --init >/dev/null 2>&1
fi

status=0
(cd "$build_dir" && ctest --output-on-failure -j "$jobs") || status=$?
# Leave no wine server of ours running behind us.
"${wine64%64}server" -k 2>/dev/null || true
exit $status
