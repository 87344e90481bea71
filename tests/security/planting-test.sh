#!/bin/bash
# Plants a canary library next to the program under the name of every library
# it loads at run time, then shows under Wine that:
#   - without hardening, and with SetDllDirectoryW("") alone, every planted
#     copy is loaded by the probe (so the canary and this test do detect a
#     planted library);
#   - the real exe, started, shown, walked to the products page and closed,
#     loads none of them once its start-up hardening has run: the hardening
#     and its preload from System32 keep them out, also while its controls
#     are created and drawn. The canary tells a load before the hardening
#     (Wine's own start-up of the libraries the exe imports loads uxtheme by
#     name before the program's first instruction) from one after it, and
#     only the latter fails the test; the former are listed;
#   - loaders without the search flags, loading by full System32 path (the
#     probe's bypath mode), load none either.
# Needs an X display (tests/e2e/with-xvfb.sh).
# Usage: planting-test.sh EXE DRIVER PROBE CANARY WORKDIR WINEPREFIX [EXTRA_NAME...]
#   EXE     the program (copied next to the canaries)
#   DRIVER  WizardDriver.exe, run from where it is (not among the canaries)
# KEYSTRIP_WINE and KEYSTRIP_WINESERVER as for cmake/wine-prefix.sh.
set -euo pipefail
exe="$1"
driver="$2"
probe="$3"
canary="$4"
work="$5"
prefix="$6"
shift 6
extra=("$@")
read -r -a wine <<<"${KEYSTRIP_WINE:-/usr/lib/wine/wine64}"
read -r -a wineserver <<<"${KEYSTRIP_WINESERVER:-/usr/lib/wine/wineserver}"

here="$(cd "$(dirname "$0")" && pwd)"
"$here/../../cmake/wine-prefix.sh" "$prefix"
if [ -z "${DISPLAY:-}" ]; then
    echo "FAIL: no X display (run through tests/e2e/with-xvfb.sh)"
    exit 1
fi

rm -rf "$work"
mkdir -p "$work"
cp "$probe" "$work/probe.exe"
cp "$exe" "$work/ZolvaKeystrip.exe"

export WINEPREFIX="$prefix" WINEDEBUG=-all
# No crash debugger: a program that calls into a canary (it exports nothing)
# must end at once and fail the test, not wait in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
run() { "${wine[@]}" "$work/probe.exe" "$@" | tr -d '\r'; }

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
# What the canary looks for to tell whether the search was hardened (Canary.c).
cp "$canary" "$work/keystrip_sentinel.dll"
# Wine substitutes its built-in copy for several of these names even when a
# file of that name is found; Windows would load the file. Preferring the
# found file makes Wine search the way Windows does. The driver is started
# without this: it is not among the canaries and has nothing to prove.
plain_overrides="$WINEDLLOVERRIDES"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${stems[*]}")=n,b"
drive() { WINEDLLOVERRIDES="$plain_overrides" "${wine[@]}" "$driver" "$@" 2>/dev/null | tr -d '\r'; }

# Loads after the hardening, and loads before it.
marks() { find "$work" -maxdepth 1 -name '*.loaded' -printf '%f\n' | sort; }
early_marks() { find "$work" -maxdepth 1 -name '*.early' -printf '%f\n' | sort; }
clear_marks() { rm -f "$work"/*.loaded "$work"/*.early; }
status=0

expect_all_loaded() {
    local mode="$1"
    for name in "${names[@]}"; do
        if [ ! -e "$work/$name.loaded" ] && [ ! -e "$work/$name.early" ]; then
            echo "FAIL ($mode): the planted $name was not loaded, so the test would prove nothing"
            status=1
        fi
    done
}

expect_none_loaded() {
    local mode="$1"
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

# The page the running wizard shows, or nothing.
page() { drive state | sed -n 's/^page=//p'; }
wait_page() {
    local want="$1" _
    for _ in $(seq 60); do
        [ "$(page)" = "$want" ] && return 0
        sleep 0.5
    done
    return 1
}

# The real exe: its window shown, the detection run on Accept, the products
# page drawn, then closed with Cancel.
clear_marks
"${wine[@]}" "$work/ZolvaKeystrip.exe" >"$work/exe.log" 2>&1 &
pid=$!
shown=0
for _ in $(seq 45); do
    kill -0 "$pid" 2>/dev/null || break
    if drive wait 2 >/dev/null; then
        shown=1
        break
    fi
done
exe_ok=0
if [ $shown -eq 0 ]; then
    echo "FAIL (exe): the wizard did not show"
elif ! wait_page 0; then
    echo "FAIL (exe): the terms page did not show"
else
    drive click EulaAcceptButton >/dev/null
    if wait_page 1; then
        sleep 1 # let the page paint
        drive click ProductsCancelButton >/dev/null
        if drive gone 60 >/dev/null; then
            exe_ok=1
        else
            echo "FAIL (exe): the wizard did not end"
        fi
    else
        echo "FAIL (exe): the products page did not show"
    fi
fi
[ $exe_ok -eq 1 ] || "${wineserver[@]}" -k || true
set +e
wait "$pid"
rc=$?
set -e
if [ $exe_ok -eq 0 ] || [ "$rc" -ne 0 ]; then
    echo "FAIL (exe): exit code $rc"
    grep -m 3 -i 'unimplemented\|exception' "$work/exe.log" || true
    status=1
fi
"${wineserver[@]}" -w
expect_none_loaded exe
early="$(early_marks)"
if [ -n "$early" ]; then
    echo "note (exe): loaded before the hardening, by Wine's start-up:" $early
fi

clear_marks
set +e
run bypath "${names[@]}" >"$work/bypath.log"
rc=$?
set -e
grep FAIL "$work/bypath.log" || true
if [ "$rc" -ne 0 ]; then
    echo "FAIL (bypath): probe exit code $rc"
    status=1
fi
expect_none_loaded bypath
if [ -n "$(early_marks)" ]; then
    echo "FAIL (bypath): planted libraries loaded:" $(early_marks)
    status=1
fi

if [ $status -eq 0 ]; then
    echo "planted ${#names[@]} libraries: ${names[*]}"
    echo "loaded by the unprotected probe, never by the exe nor by path"
fi
exit $status
