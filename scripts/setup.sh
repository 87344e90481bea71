#!/bin/bash
# Installs what the build and the tests need on Debian 12 (run as root).
# Does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build g++ make python3
    libgtest-dev googletest nlohmann-json3-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 fonts-wine
    xvfb xauth x11-utils xdotool imagemagick fonts-liberation
    clang libclang-rt-14-dev clang-format clang-tidy
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
