#!/bin/bash
# Runs a command on a private Xvfb display for the Wine prefix $1:
#   with-xvfb.sh PREFIX COMMAND [ARGUMENTS...]
# The prefix's wineserver is stopped before and after, so that no Wine
# process stays connected to a display that is going away. KEYSTRIP_SCREEN
# sets the screen size (default 1280x1024x24); KEYSTRIP_WINESERVER the
# wineserver command (as for cmake/wine-prefix.sh).
set -euo pipefail
prefix="$1"
shift
read -r -a wineserver <<<"${KEYSTRIP_WINESERVER:-/usr/lib/wine/wineserver}"
stop_wine() { WINEPREFIX="$prefix" "${wineserver[@]}" -k 2>/dev/null || true; }
work=$(mktemp -d)
stop_wine
Xvfb -displayfd 9 -screen 0 "${KEYSTRIP_SCREEN:-1280x1024x24}" -nolisten tcp -noreset \
    9>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
    stop_wine
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.05
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
set +e
"$@"
status=$?
set -e
exit $status
