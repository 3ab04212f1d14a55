#!/usr/bin/env bash
# Builds Qt 5.15 for Windows x64 (shared release DLLs: Core, Gui, Widgets, Network, Test and the
# windows platform plugin) from Debian's own qtbase source package with mingw-w64, host tools
# native, and installs it into a cache outside the work tree keyed by Qt version and configure
# options. A finished cache is reused; an interrupted build leaves only a scratch folder that the
# next run removes, never a cache that looks done. Prints the Qt prefix as its last line.
#
#   JOBS    parallel build jobs (default: number of cores)
#   QUIET   1: no progress lines (the prefix is still printed)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/debian-source.sh
source "$root/scripts/debian-source.sh"

qt_version=5.15.8
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"
# The Debian tarball lacks src/3rdparty/wintab, hence no tablet events. Of QtNetwork the tool needs
# only its local sockets (one window per session), so no TLS; nothing needs OpenGL, SQL, XML or
# printing.
qt_options=(
    -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
    -release -shared -opensource -confirm-license -nomake examples -nomake tests
    -no-opengl -no-angle -no-dbus -no-icu -no-direct2d
    -qt-zlib -qt-libpng -no-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre
    -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printer
    -no-feature-tabletevent -no-openssl
)
compiler_version="$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo none)"
key="$(printf '%s\n' "$qt_version" "$compiler_version" "${qt_options[@]}" | sha256sum | cut -c1-10)"
cache="$(corvan_cache_root)"
prefix="$cache/qt-$qt_version-mingw64-$key"
stamp="$prefix/.corvan-complete"

say() { [ "${QUIET:-0}" = 1 ] || echo "$@" >&2; }

if [ -f "$stamp" ]; then
    say "Qt $qt_version for Windows: reusing $prefix"
    echo "$prefix"
    exit 0
fi

"$root/scripts/install-deps.sh" --windows-qt

mkdir -p "$cache"
# One build at a time per cache; a second caller waits and then reuses the result.
exec 9>"$cache/.qt-build.lock"
if ! flock -n 9; then
    say "Another Qt build for Windows is running; waiting for it"
    flock 9
fi
if [ -f "$stamp" ]; then
    echo "$prefix"
    exit 0
fi

# Leftovers of an interrupted build (scratch folders of this key) go first.
rm -rf "$cache/.qt-$qt_version-$key".* "$prefix"
work="$(mktemp -d "$cache/.qt-$qt_version-$key.XXXXXX")"
log="$work/build.log"
cleanup() {
    local rc=$?
    if [ $rc -ne 0 ]; then
        [ -n "${ticker:-}" ] && kill "$ticker" 2>/dev/null
        echo "error: the Qt build failed (exit $rc); the last lines of $log:" >&2
        tail -n 30 "$log" >&2 || true
        echo "The scratch folder $work is kept for a look; the next run removes it." >&2
    fi
}
trap cleanup EXIT

started=$(date +%s)
elapsed() { local s=$(($(date +%s) - started)); printf '%d:%02d' $((s / 60)) $((s % 60)); }

say "Qt $qt_version for Windows: building into $prefix (log: $log)"
say "[$(elapsed)] fetching Debian's qtbase source package"
corvan_debian_source qtbase-opensource-src "$work/src" --download-only >>"$log" 2>&1
orig=$(ls "$work"/src/qtbase-opensource-src_"$qt_version"*.orig.tar.xz 2>/dev/null | head -1)
if [ -z "$orig" ]; then
    echo "error: Debian's qtbase source package is not version $qt_version:" >&2
    ls "$work/src" >&2
    exit 1
fi
say "[$(elapsed)] unpacking the upstream tree $(basename "$orig")"
mkdir -p "$work/qtbase"
tar -xf "$orig" -C "$work/qtbase" --strip-components=1

# The posix thread model of Debian's mingw-w64 (std::thread, the runtime the tool links with)
# under the plain names that CROSS_COMPILE expects, whatever the system's alternatives say.
mkdir -p "$work/toolchain"
for tool in gcc g++; do
    ln -s "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$work/toolchain/x86_64-w64-mingw32-$tool"
done
export PATH="$work/toolchain:$PATH"

mkdir -p "$work/build"
cd "$work/build"
say "[$(elapsed)] configuring (about 3 minutes on 2 cores)"
"$work/qtbase/configure" -prefix "$prefix" "${qt_options[@]}" >>"$log" 2>&1

# A progress line a minute: objects compiled so far.
total=$(find "$work/qtbase/src" -name '*.cpp' | wc -l)
(
    while sleep 60; do
        say "[$(elapsed)] building: $(find "$work/build" -name '*.o' | wc -l) objects (of roughly $total sources)"
    done
) &
ticker=$!
say "[$(elapsed)] building with $jobs jobs (about 25 minutes on 2 cores)"
make -j"$jobs" >>"$log" 2>&1
kill "$ticker" 2>/dev/null || true
ticker=""

say "[$(elapsed)] installing"
make install INSTALL_ROOT="$work/install" >>"$log" 2>&1
# The licence texts go with the DLLs (the LGPL 3 is a supplement to the GPL 3: both ship).
cp "$work/qtbase"/LICENSE.* "$work/install$prefix/"
# The only step that makes the cache visible is a rename, and the stamp comes last.
mv "$work/install$prefix" "$prefix"
printf 'qt %s\nsource %s\ncompiler %s\noptions %s\nbuilt in %s\n' "$qt_version" \
    "$(basename "$(ls "$work"/src/*.dsc)" .dsc)" "$compiler_version" "${qt_options[*]}" "$(elapsed)" >"$stamp"
cd "$cache"
rm -rf "$work"
say "[$(elapsed)] Qt $qt_version for Windows is ready in $prefix"
echo "$prefix"
