#!/bin/bash
# Builds the wizard and starts it under Wine in a private sandbox prefix
# (build/sandbox), prepared with the registry traces of three shipped
# products, so that the detection finds something and the removal removes it.
#
# With a display (DISPLAY set) the wizard opens there for you to use. Without
# one it runs on a private Xvfb display, goes through every page as a user
# would (Enter on the terms, Remove, show details, Ok) and writes a
# screenshot of each page to build/screenshots.
#
# The exe that runs here is the x86-64 build (preset win64): 32-bit Wine does
# not run on this machine. The shipping 32-bit exe is built too, by the
# win32-release preset: build/win32-release/app/ZolvaKeystrip.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

for preset in win64 win32-release; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset win64 --target ZolvaKeystrip WizardDriver WizardGallery
cmake --build --preset win32-release --target ZolvaKeystrip

prefix="$PWD/build/sandbox"
tests/e2e/prepare-prefix.sh "$prefix"
bin="$PWD/build/win64/tests/e2e"
args=(--prefix "$prefix" --bin "$bin" --exe "$PWD/build/win64/app/ZolvaKeystrip.exe"
      --resources "$PWD/resources" --screenshots "$PWD/build/screenshots")
wine_reg() {
    WINEPREFIX="$prefix" WINEDEBUG=-all /usr/lib/wine/wine64 reg add \
        'HKCU\Software\Wine\X11 Driver' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
}

if [ -n "${DISPLAY:-}" ]; then
    # Your window manager frames the window.
    wine_reg Managed Y
    wine_reg Decorated Y
    python3 tests/e2e/wizard_e2e.py sandbox "${args[@]}"
else
    wine_reg Managed N
    wine_reg Decorated N
    echo "No DISPLAY: running the wizard on Xvfb, screenshots go to build/screenshots"
    tests/e2e/with-xvfb.sh "$prefix" python3 tests/e2e/wizard_e2e.py flow "${args[@]}"
    ls build/screenshots
fi
