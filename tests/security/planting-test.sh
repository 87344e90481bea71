#!/bin/bash
# Plants a canary library next to the probe under the name of every library
# the program loads at run time, then shows under Wine that:
#   - without hardening, and with SetDllDirectoryW("") alone, every planted
#     copy is loaded (so the canary and this test do detect a planted library);
#   - after HardenDllSearchPath and the preload from System32, none is, even
#     while the wizard's kinds of controls are created;
#   - the same holds for loading by full System32 path (loaders without the
#     search flags).
# Usage: planting-test.sh PROBE CANARY WORKDIR WINEPREFIX [EXTRA_NAME...]
set -euo pipefail
probe="$1"
canary="$2"
work="$3"
prefix="$4"
shift 4
extra=("$@")

here="$(cd "$(dirname "$0")" && pwd)"
"$here/../../cmake/wine-prefix.sh" "$prefix"

rm -rf "$work"
mkdir -p "$work"
cp "$probe" "$work/probe.exe"

export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
run() { /usr/lib/wine/wine64 "$work/probe.exe" "$@" | tr -d '\r'; }
run_windowed() { xvfb-run -a /usr/lib/wine/wine64 "$work/probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

# The probe's own list of preloaded libraries, and the extra names.
mapfile -t names < <(run list)
names+=("${extra[@]}")
if [ "${#names[@]}" -lt 2 ]; then
    echo "FAIL: the probe listed no libraries"
    exit 1
fi
stems=()
for name in "${names[@]}"; do
    cp "$canary" "$work/$name"
    stems+=("${name%.[dD][lL][lL]}")
done
# Wine substitutes its built-in copy for several of these names even when a
# file of that name is found; Windows would load the file. Preferring the
# found file makes Wine search the way Windows does.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${stems[*]}")=n,b"

marks() { find "$work" -maxdepth 1 -name '*.loaded' -printf '%f\n' | sort; }
clear_marks() { rm -f "$work"/*.loaded; }
status=0

expect_all_loaded() {
    local mode="$1"
    for name in "${names[@]}"; do
        if [ ! -e "$work/$name.loaded" ]; then
            echo "FAIL ($mode): the planted $name was not loaded, so the test would prove nothing"
            status=1
        fi
    done
}

expect_none_loaded() {
    local mode="$1" rc="$2"
    if [ "$rc" -ne 0 ]; then
        echo "FAIL ($mode): probe exit code $rc"
        status=1
    fi
    local found
    found="$(marks)"
    if [ -n "$found" ]; then
        echo "FAIL ($mode): planted libraries loaded:" $found
        status=1
    fi
}

for mode in plain dlldirectory; do
    clear_marks
    run "$mode" "${names[@]}" >"$work/$mode.log"
    expect_all_loaded "$mode"
done

for mode in hardened bypath; do
    clear_marks
    set +e
    run_windowed "$mode" "${names[@]}" >"$work/$mode.log"
    rc=${PIPESTATUS[0]}
    set -e
    grep FAIL "$work/$mode.log" || true
    expect_none_loaded "$mode" "$rc"
done

if [ $status -eq 0 ]; then
    echo "planted ${#names[@]} libraries: ${names[*]}"
    echo "loaded when unprotected, never after hardening"
fi
exit $status
