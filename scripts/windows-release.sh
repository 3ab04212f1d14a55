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

# The tool carries exactly its icon group 101 (16, 24, 32 and 48 pixel 32-bit bitmaps with alpha and
# a 1-bit mask, then a 256 pixel PNG, as icons 1 to 5) and manifest 1, read back from the stripped
# program itself: a tool chain that adds a resource of its own, or drops one, stops the release.
exe="$stage/CorvanHTMLStarter.exe"
resource_error() { echo "error: CorvanHTMLStarter.exe: $*" >&2; exit 1; }
resources="$build_dir/resources"
rm -rf "$resources" && mkdir -p "$resources"
wrestool -l "$exe" | sed 's/ *\[.*//' | sort >"$resources/list"
{
    echo "--type=14 --name=101 --language=0"
    echo "--type=24 --name=1 --language=1033"
    for i in 1 2 3 4 5; do echo "--type=3 --name=$i --language=0"; done
} | sort | cmp -s - "$resources/list" || resource_error "its resources are"$'\n'"$(cat "$resources/list")"
wrestool -x --raw -t 24 -n 1 "$exe" | tr -d '\r' >"$resources/manifest"
tr -d '\r' <"$root/Resources/CorvanHTMLStarter.manifest" | cmp -s - "$resources/manifest" ||
    resource_error "its manifest is not Resources/CorvanHTMLStarter.manifest"
# The group's entries: width (0 for 256), height, colours, reserved, planes, bit count, size, icon id.
wrestool -x --raw -t 14 -n 101 "$exe" >"$resources/group"
group="$(od -An -v -tu1 -w14 -j6 "$resources/group" | awk '{ print $1, $7, $13 + 256 * $14 }' | xargs)"
[ "$group" = "16 32 1 24 32 2 32 32 3 48 32 4 0 32 5" ] || resource_error "its icon group is: $group"
sizes=(16 24 32 48)
for i in 1 2 3 4; do
    size=${sizes[$((i - 1))]}
    wrestool -x --raw -t 3 -n $i "$exe" >"$resources/icon$i"
    header="$(od -An -tu4 -N12 "$resources/icon$i" | xargs) $(od -An -tu2 -j12 -N4 "$resources/icon$i" | xargs)"
    bytes=$(stat -c %s "$resources/icon$i")
    [ "$header" = "40 $size $((2 * size)) 1 32" ] && [ "$bytes" -eq $((40 + size * size * 4 + (size + 31) / 32 * 4 * size)) ] ||
        resource_error "icon $i is not a $size pixel 32-bit bitmap with its mask ($header, $bytes bytes)"
done
wrestool -x --raw -t 3 -n 5 "$exe" >"$resources/icon5"
[ "$(od -An -tx1 -N8 "$resources/icon5" | xargs) $(od -An -tu1 -j16 -N10 "$resources/icon5" | xargs)" = \
    "89 50 4e 47 0d 0a 1a 0a 0 0 1 0 0 0 1 0 8 6" ] || resource_error "icon 5 is not a 256 pixel 8-bit RGBA PNG"

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
