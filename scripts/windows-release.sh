#!/usr/bin/env bash
# The Windows x64 release: cross-builds the tool and its server with mingw-w64 against Qt built
# for Windows from Debian's sources (cached after the first run, which takes about half an hour)
# and Debian's Boost headers, gathers exactly the DLLs they load and the licence texts into one
# folder, and writes
#   dist/CorvanHTMLStarter-<version>-win64.zip        the folder, to unpack and run anywhere
#   dist/CorvanHTMLStarter-<version>-win64-setup.exe  a per-user installer made with NSIS
#
#   WINDOWS_BUILD_DIR   build folder (default: build-windows-release)
#   DIST_DIR            output folder (default: dist)
#   JOBS                parallel build jobs (default: number of cores)
#   WERROR              ON (default) or OFF
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${WINDOWS_BUILD_DIR:-$root/build-windows-release}"
dist_dir="${DIST_DIR:-$root/dist}"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"
triplet=x86_64-w64-mingw32

"$root/scripts/install-deps.sh" --windows-release
qt_prefix="$(JOBS=$jobs "$root/scripts/build-qt-windows.sh" | tail -n 1)"

echo "Building the tool and its server for Windows in $build_dir"
cmake -S "$root" -B "$build_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCORVAN_WINDOWS_PREFIXES="$qt_prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCORVAN_BUILD_TESTS=OFF -DCORVAN_WERROR="${WERROR:-ON}" >/dev/null
cmake --build "$build_dir" --target corvan-html-starter mongoose -j "$jobs"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build_dir/CMakeCache.txt")"
name="CorvanHTMLStarter-$version-win64"
stage_root="$build_dir/release"
stage="$stage_root/$name"
rm -rf "$stage_root"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/licenses" "$dist_dir"

# The programs, without their symbols. The tool's file name is its branding key: this one selects
# the default branding.
"$triplet-strip" -o "$stage/CorvanHTMLStarter.exe" "$build_dir/bin/corvan-html-starter.exe"
"$triplet-strip" -o "$stage/mongoose.exe" "$build_dir/bin/mongoose.exe"
# Loaded by Qt at run time rather than imported: the platform integration, without which nothing
# starts, and the native look of buttons and message boxes.
cp "$qt_prefix/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt_prefix/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"

# Every DLL that these import, directly or through another, taken from Qt and the cross compiler's
# runtime; the rest must be Windows' own (wine's list of its system DLLs stands for Windows here).
# Anything else stops the release: it would fail to start on a user's machine.
search_dirs=(
    "$qt_prefix/bin"
    "$(dirname "$("$triplet-g++-posix" -print-file-name=libstdc++-6.dll)")"
    "/usr/$triplet/lib"
)
system_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
imports() { "$triplet-objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'; }
find_dll() {
    local d f
    for d in "${search_dirs[@]}"; do
        f=$(find "$d" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
        [ -n "$f" ] && { echo "$f"; return 0; }
    done
    return 1
}
declare -A seen=()
queue=("$stage/CorvanHTMLStarter.exe" "$stage/mongoose.exe" "$stage/platforms/qwindows.dll"
    "$stage/styles/qwindowsvistastyle.dll")
while [ ${#queue[@]} -gt 0 ]; do
    file="${queue[0]}"
    queue=("${queue[@]:1}")
    while read -r dll; do
        key="${dll,,}"
        [ -n "${seen[$key]:-}" ] && continue
        seen[$key]=1
        if found=$(find_dll "$dll"); then
            # Debian's compiler runtime DLLs carry their debugging sections (libstdc++-6.dll: 23 MiB
            # instead of 2); Qt's release DLLs ship as built.
            if [[ "$found" == "$qt_prefix"/* ]]; then
                cp "$found" "$stage/"
            else
                "$triplet-strip" --strip-unneeded -o "$stage/$(basename "$found")" "$found"
            fi
            queue+=("$stage/$(basename "$found")")
        elif [[ "$key" == api-ms-win-* ]] || [ -n "$(find "$system_dlls" -maxdepth 1 -iname "$dll" -print -quit)" ]; then
            continue
        else
            echo "error: $(basename "$file") needs $dll, which is neither shipped nor part of Windows" >&2
            exit 1
        fi
    done < <(imports "$file")
done

# Licences: ours, Qt's (LGPL 3, under which the Qt DLLs are shipped unchanged and replaceable),
# Boost's (compiled into mongoose.exe) and the compiler runtime's.
cp "$root/packaging/windows/LICENSE.txt" "$stage/licenses/CorvanHTMLStarter.txt"
cp "$qt_prefix/LICENSE.LGPLv3" "$stage/licenses/Qt-LGPL-3.0.txt"
cp "$qt_prefix/LICENSE.GPL3" "$stage/licenses/Qt-GPL-3.0.txt"
cp /usr/share/doc/libboost1.81-dev/copyright "$stage/licenses/Boost.txt"
# The compiler's runtime DLLs: Debian's copyright files carry the GCC Runtime Library Exception and
# the mingw-w64 (winpthreads) licences.
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/GCC-runtime.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licenses/mingw-w64.txt"
cp "$root/packaging/windows/README.txt" "$stage/README.txt"
# Windows editors expect CR LF.
for text in "$stage/README.txt" "$stage"/licenses/*.txt; do
    sed -i 's/\r$//; s/$/\r/' "$text"
done

zip="$dist_dir/$name.zip"
rm -f "$zip"
(cd "$stage_root" && zip -q -r -X -9 "$zip" "$name")

# The installer installs exactly the staged files and its uninstaller removes exactly those: both
# lists are written from the folder itself.
nsis_lists="$build_dir/nsis"
mkdir -p "$nsis_lists"
(
    cd "$stage"
    find . -mindepth 1 -type d | sort | sed 's|^\./||; s|/|\\|g' >"$nsis_lists/dirs"
    find . -type f | sort | sed 's|^\./||; s|/|\\|g' >"$nsis_lists/files"
)
{
    while read -r d; do echo "CreateDirectory \"\$INSTDIR\\$d\""; done <"$nsis_lists/dirs"
    while read -r f; do
        echo "SetOutPath \"\$INSTDIR$( [[ "$f" == *\\* ]] && echo "\\${f%\\*}")\""
        echo "File \"$stage/${f//\\//}\""
    done <"$nsis_lists/files"
    echo "SetOutPath \"\$INSTDIR\""
} >"$nsis_lists/install.nsh"
{
    while read -r f; do echo "Delete \"\$INSTDIR\\$f\""; done <"$nsis_lists/files"
    sort -r "$nsis_lists/dirs" | while read -r d; do echo "RMDir \"\$INSTDIR\\$d\""; done
} >"$nsis_lists/uninstall.nsh"

setup="$dist_dir/$name-setup.exe"
makensis -V2 -INPUTCHARSET UTF8 \
    -DVERSION="$version" -DOUTFILE="$setup" -DSOURCE_DIR="$root" -DLISTS_DIR="$nsis_lists" \
    "$root/packaging/windows/CorvanHTMLStarter.nsi"

echo "Windows release $version:"
ls -l "$zip" "$setup" | awk '{ print "  " $NF "  (" $5 " bytes)" }'
