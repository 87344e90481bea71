#!/bin/bash
# Prepares (once) the Wine prefix $1 for the tests that show windows: the
# common test prefix (Tahoma, Marlett, Wine-drawn frames), plus Liberation
# Mono standing in for Courier New, the report's font. KEYSTRIP_WINE and
# KEYSTRIP_WINESERVER as for cmake/wine-prefix.sh.
set -euo pipefail
prefix="$1"
read -r -a wine <<<"${KEYSTRIP_WINE:-/usr/lib/wine/wine64}"
read -r -a wineserver <<<"${KEYSTRIP_WINESERVER:-/usr/lib/wine/wineserver}"
here="$(cd "$(dirname "$0")" && pwd)"
"$here/../../cmake/wine-prefix.sh" "$prefix"
exec 9>"$prefix.gui.lock"
flock 9
[ -f "$prefix/.keystrip-gui-ready" ] && exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mono=/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf
if [ -f "$mono" ]; then
    cp "$mono" "$prefix/drive_c/windows/Fonts/"
    "${wine[@]}" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' \
        /t REG_SZ /d 'Liberation Mono' /f >/dev/null 2>&1
fi
"${wine[@]}" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f \
    >/dev/null 2>&1
"${wineserver[@]}" -w
touch "$prefix/.keystrip-gui-ready"
