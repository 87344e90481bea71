#!/bin/bash
# Runs a Windows program under 64-bit Wine in the private prefix $1
# (created on first use), without Wine's debug output.
set -euo pipefail
prefix="$1"
shift
"$(dirname "$0")/wine-prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
set +e
/usr/lib/wine/wine64 "$@"
rc=$?
# Let this prefix's wineserver finish before the next test starts one: a new
# process racing a server that is shutting down can lose its connection.
/usr/lib/wine/wineserver -w
set -e
exit $rc
