#!/bin/bash
# Fails unless every given Windows executable or library imports only
# Windows' own libraries: a statically linked program must not need the
# compiler's runtime libraries (libstdc++, libgcc, winpthread), which the
# loader would look for beside the executable before main runs.
# Usage: check-imports.sh OBJDUMP FILE...
set -euo pipefail
objdump="$1"
shift
allowed=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll
          ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll shell32.dll shlwapi.dll user32.dll
          version.dll ws2_32.dll "
status=0
for file in "$@"; do
    mapfile -t dlls < <("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    if [ "${#dlls[@]}" -eq 0 ]; then
        echo "FAIL: no imports read from $file"
        status=1
        continue
    fi
    for dll in "${dlls[@]}"; do
        case "$allowed" in
        *[[:space:]]"$dll"[[:space:]]*) ;;
        *)
            echo "FAIL: $(basename "$file") imports $dll"
            status=1
            ;;
        esac
    done
    echo "$(basename "$file"): ${dlls[*]}"
done
exit $status
