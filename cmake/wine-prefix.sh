#!/bin/bash
# Creates (once) the private Wine prefix given as $1, ready for our tests:
# Tahoma and Marlett installed (else Wine silently uses DejaVu), Wine drawing
# its own window frames, and no desktop integration.
# KEYSTRIP_WINE and KEYSTRIP_WINESERVER give other commands for wine and
# wineserver (the 32-bit Wine of the shipping tests); default: 64-bit Wine.
set -euo pipefail
prefix="$1"
read -r -a wine <<<"${KEYSTRIP_WINE:-/usr/lib/wine/wine64}"
read -r -a wineserver <<<"${KEYSTRIP_WINESERVER:-/usr/lib/wine/wineserver}"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.keystrip-ready" ]; then
    exit 0
fi
rm -rf "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
"${wine[@]}" wineboot -i >/dev/null 2>&1 || true
"${wineserver[@]}" -w
fonts="$prefix/drive_c/windows/Fonts"
mkdir -p "$fonts"
for f in /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
         /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$f" ] && cp "$f" "$fonts/"
done
"${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
"${wineserver[@]}" -w
touch "$prefix/.keystrip-ready"
