#!/bin/bash
# The silent removal of the largest shipped product, timed under Wine for the
# exe of an earlier commit and for the exe of the working tree in one run:
#
#   tests/bench/silent-run-bench.sh BASE_COMMIT [ROUNDS]
#
# Builds the win64 exe of the working tree (build/win64) and that of
# BASE_COMMIT (its sources exported to build/bench-base/src), then runs
# tests/bench/silent_run_bench.py on a private Xvfb display in the GUI prefix
# of the end-to-end tests. Not part of the test run.
set -euo pipefail
cd "$(dirname "$0")/../.."
base=${1:?usage: $0 BASE_COMMIT [ROUNDS]}
rounds=${2:-15}

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target ZolvaKeystrip WizardDriver

# The base's sources are exported once per commit; its build is incremental.
src=build/bench-base/src
commit=$(git rev-parse --verify "$base^{commit}")
if [ "$(cat "$src/.commit" 2>/dev/null)" != "$commit" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    git archive "$commit" | tar -x -C "$src"
    echo "$commit" >"$src/.commit"
fi
(cd "$src" && cmake --preset win64 >/dev/null && cmake --build --preset win64 --target ZolvaKeystrip)

prefix=$PWD/build/win64/guiprefix
tests/e2e/prepare-prefix.sh "$prefix"
exec tests/e2e/with-xvfb.sh "$prefix" python3 tests/bench/silent_run_bench.py \
    --prefix "$prefix" --bin build/win64/tests/e2e --resources resources \
    --before "$src/build/win64/app/ZolvaKeystrip.exe" --after build/win64/app/ZolvaKeystrip.exe \
    --rounds "$rounds"
