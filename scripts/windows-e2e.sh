#!/usr/bin/env bash
# Proves the Windows release under wine: builds it (scripts/windows-release.sh), then runs
# tst_e2e_wine, which unpacks the zip into a folder with blanks in its name and uses it on a private X
# display in a private wine prefix, as a user would: a real drag, mongoose.exe serving headless
# Chromium, live reload, the refusal box, Copy URL, a proxy rule's question and one proxied
# request, the close button, a renamed copy, and the installer round trip.
#
#   BUILD_DIR         the Linux build folder for the suite and its drag source (default: build)
#   WINDOWS_BUILD_DIR, DIST_DIR   as for scripts/windows-release.sh
#   SCREENSHOT_DIR    when set, the window and the refusal box under wine are saved there as PNG
#   any tst_e2e_wine arguments (function names, -v2) are passed on.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

"$root/scripts/install-deps.sh" --test
"$root/scripts/install-deps.sh" --windows-e2e
"$root/scripts/windows-release.sh"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "${WINDOWS_BUILD_DIR:-$root/build-windows-release}/CMakeCache.txt")"
dist_dir="${DIST_DIR:-$root/dist}"
zip="$dist_dir/CorvanHTMLStarter-$version-win64.zip"
setup="$dist_dir/CorvanHTMLStarter-$version-win64-setup.exe"

# The suite and the stand-in file manager are Linux programs of the ordinary build.
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir" -DCORVAN_WERROR="${WERROR:-ON}" >/dev/null
fi
cmake --build "$build_dir" --target tst_e2e_wine e2e_dragsource -j "$jobs" >/dev/null

work="$build_dir/tests/e2e/wine"
mkdir -p "$work/runtime" "$work/output"
chmod 700 "$work/runtime"
# The suite's two small Windows helpers.
mkdir -p "$work/helpers"
x86_64-w64-mingw32-g++-posix -static -O2 -o "$work/helpers/standin-server.exe" "$root/tests/e2e/wine_standin_server.cpp"
x86_64-w64-mingw32-g++-posix -static -O2 -municode -o "$work/helpers/press-return.exe" \
    "$root/tests/e2e/wine_press_return.cpp"

echo "Running the Windows release under wine (failures leave screenshots and logs in $work/output)"
CORVAN_WINDOWS_ZIP="$zip" CORVAN_WINDOWS_SETUP="$setup" CORVAN_WINDOWS_HELPERS="$work/helpers" \
    CORVAN_E2E_OUTPUT_DIR="$work/output" CORVAN_E2E_SCREENSHOT_DIR="${SCREENSHOT_DIR:-}" \
    XDG_RUNTIME_DIR="$work/runtime" QTEST_FUNCTION_TIMEOUT=600000 \
    "$build_dir/bin/tst_e2e_wine" "$@"
