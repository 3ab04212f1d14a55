#!/usr/bin/env bash
# Cross-builds civetweb for Windows x64 as a static library from Debian's civetweb source package,
# with Debian's patches applied (so its API, mg_disable_keep_alive included, is the one the server
# uses on Linux), and installs it into a cache outside the work tree keyed by version and options.
# A finished cache is reused; the cache only appears, by a rename, once it is complete. Prints the
# civetweb prefix as its last line.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/debian-source.sh
source "$root/scripts/debian-source.sh"

civetweb_version=1.15
# Debian's own choices (web sockets on, a C library) minus what the server never uses and Windows
# would have to find at run time: no TLS (no OpenSSL DLLs to load), no CGI.
options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
    -DCIVETWEB_BUILD_TESTING=OFF -DCIVETWEB_ENABLE_SERVER_EXECUTABLE=OFF -DCIVETWEB_INSTALL_EXECUTABLE=OFF
    -DCIVETWEB_ENABLE_CXX=OFF -DCIVETWEB_ENABLE_WEBSOCKETS=ON -DCIVETWEB_ENABLE_SSL=OFF
    -DCIVETWEB_DISABLE_CGI=ON -DCIVETWEB_ENABLE_ASAN=OFF
)
compiler_version="$(x86_64-w64-mingw32-gcc-posix -dumpfullversion 2>/dev/null || echo none)"
key="$(printf '%s\n' "$civetweb_version" "$compiler_version" "${options[@]}" | sha256sum | cut -c1-10)"
cache="$(corvan_cache_root)"
prefix="$cache/civetweb-$civetweb_version-mingw64-$key"
stamp="$prefix/.corvan-complete"

say() { echo "$@" >&2; }

if [ -f "$stamp" ]; then
    say "civetweb $civetweb_version for Windows: reusing $prefix"
    echo "$prefix"
    exit 0
fi

"$root/scripts/install-deps.sh" --windows-qt

mkdir -p "$cache"
exec 9>"$cache/.civetweb-build.lock"
flock 9
if [ -f "$stamp" ]; then
    echo "$prefix"
    exit 0
fi
rm -rf "$cache/.civetweb-$civetweb_version-$key".* "$prefix"
work="$(mktemp -d "$cache/.civetweb-$civetweb_version-$key.XXXXXX")"
log="$work/build.log"
trap 'rc=$?; if [ $rc -ne 0 ]; then echo "error: the civetweb build failed (exit $rc); the end of $log:" >&2; tail -n 30 "$log" >&2; fi' EXIT

say "civetweb $civetweb_version for Windows: building into $prefix"
# apt-get source unpacks with dpkg-source, which applies Debian's patch series.
corvan_debian_source civetweb "$work/src" >>"$log" 2>&1
tree=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "civetweb-$civetweb_version*" | head -1)
if [ -z "$tree" ]; then
    echo "error: Debian's civetweb source package is not version $civetweb_version:" >&2
    ls "$work/src" >&2
    exit 1
fi
grep -q mg_disable_keep_alive "$tree/include/civetweb.h" || {
    echo "error: Debian's patches are missing from $tree (no mg_disable_keep_alive)" >&2
    exit 1
}
cmake -S "$tree" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >>"$log" 2>&1
cmake --build "$work/build" -j "${JOBS:-$(nproc 2>/dev/null || echo 2)}" >>"$log" 2>&1
DESTDIR="$work/install" cmake --install "$work/build" >>"$log" 2>&1
cp "$tree/LICENSE.md" "$work/install$prefix/LICENSE.md"
mv "$work/install$prefix" "$prefix"
printf 'civetweb %s (%s)\ncompiler %s\noptions %s\n' "$civetweb_version" "$(basename "$tree")" \
    "$compiler_version" "${options[*]}" >"$stamp"
rm -rf "$work"
say "civetweb $civetweb_version for Windows is ready in $prefix"
echo "$prefix"
