#!/bin/bash
# Style and static checks over our own sources:
#   clang-format --dry-run --Werror  on every tracked .cpp and .h
#   clang-tidy (.clang-tidy)         on every tracked .cpp that a build tree
#                                    compiles, headers through HeaderFilterRegex
# Portable sources are checked against build/native; Windows-only sources
# against build/win64 (or build/win32-release), parsed by clang for the mingw
# target with the mingw libstdc++ headers. Run after the presets have been
# configured (scripts/test.sh does that). Exits non-zero on any finding.
#
#   scripts/lint.sh            format and tidy
#   scripts/lint.sh --format   clang-format only (quick)
#   scripts/lint.sh --fix      rewrite files with clang-format -i, then tidy
set -uo pipefail
cd "$(dirname "$0")/.."

mode=all
case "${1:-}" in
--format) mode=format ;;
--fix) mode=fix ;;
"") ;;
*)
    echo "usage: $0 [--format|--fix]" >&2
    exit 2
    ;;
esac

pick() {
    for tool in "$@"; do
        if command -v "$tool" >/dev/null; then
            echo "$tool"
            return
        fi
    done
    echo "lint: none of $* is installed (scripts/setup.sh installs them)" >&2
    exit 2
}
format=$(pick clang-format-14 clang-format)
tidy=$(pick clang-tidy-14 clang-tidy)
jobs=${LINT_JOBS:-$(nproc)}

mapfile -t sources < <(git ls-files -- '*.cpp' '*.h')
status=0

echo "=== clang-format (${#sources[@]} files)"
if [ "$mode" = fix ]; then
    "$format" -i "${sources[@]}"
elif ! "$format" --dry-run --Werror "${sources[@]}"; then
    echo "lint: clang-format found differences (scripts/lint.sh --fix rewrites them)"
    status=1
fi
[ "$mode" = format ] && exit $status

# The files a compile database lists, relative to the repository.
listed() {
    python3 - "$1" "$PWD" <<'EOF'
import json, os, sys
db, root = sys.argv[1], sys.argv[2]
for entry in json.load(open(db)):
    path = os.path.normpath(os.path.join(entry.get("directory", ""), entry["file"]))
    if path.startswith(root + os.sep):
        print(os.path.relpath(path, root))
EOF
}

# Extra clang arguments for a mingw build tree: the target, and the C++ and
# Windows headers of the cross compiler (its own intrinsics headers are
# gcc-only, so clang keeps its own).
mingw_args() {
    local db=$1 compiler triple dir
    compiler=$(python3 -c 'import json,sys; e=[e for e in json.load(open(sys.argv[1])) if e["file"].endswith(".cpp")][0]; print((e.get("command") or " ".join(e["arguments"])).split()[0])' "$db")
    triple=$(basename "$compiler")
    triple=${triple%%-g++*}
    echo "--extra-arg=--target=$triple"
    echo "--extra-arg=-nostdinc++"
    while read -r dir; do
        echo "--extra-arg=-isystem$(readlink -f "$dir")"
    done < <(echo | "$compiler" -xc++ -E -v - 2>&1 |
        sed -n '/search starts here:/,/End of search/p' | grep '^ /' |
        grep -v -E '/include$|/include-fixed$')
    echo "--extra-arg=-isystem/usr/$triple/include"
}

declare -A seen=()
tracked=" ${sources[*]} "
for tree in native win64 win32-release fuzz; do
    db="build/$tree/compile_commands.json"
    [ -f "$db" ] || continue
    files=()
    while read -r f; do
        # Only tracked sources of ours, each checked once.
        [[ "$tracked" == *" $f "* ]] || continue
        [ -n "${seen[$f]:-}" ] && continue
        seen[$f]=1
        files+=("$f")
    done < <(listed "$db")
    [ ${#files[@]} -eq 0 ] && continue
    extra=()
    case "$tree" in
    win64 | win32-release) mapfile -t extra < <(mingw_args "$db") ;;
    esac
    echo "=== clang-tidy against build/$tree (${#files[@]} files)"
    out=$(mktemp)
    printf '%s\0' "${files[@]}" |
        xargs -0 -n 1 -P "$jobs" "$tidy" -p "build/$tree" --quiet "${extra[@]}" >"$out" 2>&1
    rc=$?
    # Drop clang-tidy's per-file tallies; show the findings.
    grep -v -E '^[0-9]+ warnings?( and [0-9]+ errors?)? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^Use -system-headers' "$out"
    rm -f "$out"
    [ $rc -eq 0 ] || status=1
done

missing=()
for f in "${sources[@]}"; do
    [[ "$f" == *.cpp ]] && [ -z "${seen[$f]:-}" ] && missing+=("$f")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "lint: not in any configured build tree, not tidied: ${missing[*]}"
fi
[ $status -eq 0 ] && echo "lint: clean"
exit $status
