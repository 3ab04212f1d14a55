#!/usr/bin/env bash
# Installs the Debian packages the build, the tool and the tests need, and only the missing ones,
# so a second run costs a dpkg query and nothing else.
set -euo pipefail

packages=(
    build-essential cmake pkg-config clang-format
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    libboost1.81-dev
)
case "${1:-}" in
    # desktop-file-validate checks the installed desktop entry.
    --test) packages+=(xvfb xauth xdotool xclip x11-utils imagemagick chromium desktop-file-utils) ;;
    # The Windows check needs only the cross compiler and wine, not the Qt build.
    --windows) packages=(cmake g++-mingw-w64-x86-64-posix wine64 libboost1.81-dev) ;;
    # Qt for Windows from Debian's sources: native tools for Qt's host programs and
    # configure, dpkg-dev to unpack source packages with Debian's patches.
    --windows-qt) packages=(build-essential perl python3 xz-utils dpkg-dev cmake g++-mingw-w64-x86-64-posix) ;;
    # The release: the above, the installer compiler, zip, and the resource reader that checks the
    # program's icon and manifest.
    --windows-release)
        packages=(build-essential perl python3 xz-utils dpkg-dev cmake g++-mingw-w64-x86-64-posix
            binutils-mingw-w64-x86-64 nsis zip unzip icoutils libboost1.81-dev) ;;
    # Running the release under wine (with --test for the Linux side: the suite, Xvfb, Chromium).
    --windows-e2e) packages=(wine64 fonts-wine unzip curl) ;;
    # The fuzz targets need clang and its libFuzzer and sanitizer runtimes, and the server, not Qt.
    --fuzz) packages=(build-essential cmake clang libclang-rt-14-dev libboost1.81-dev) ;;
esac

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "error: missing packages (${missing[*]}) and no sudo to install them; run as root." >&2
        exit 1
    fi
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
