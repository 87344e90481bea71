#!/bin/bash
# Builds the libFuzzer targets (preset fuzz) and runs each of them in turn,
# bounded by time or by executions, starting from its seeds in
# fuzz/corpus/<target>. New inputs the fuzzer finds go to
# build/fuzz/corpus/<target> (the seeds in the repository are not touched),
# crashes to build/fuzz/artifacts/. Exits non-zero when a target fails.
#
#   scripts/fuzz.sh                 every target for 45 s (what scripts/test.sh runs)
#   scripts/fuzz.sh -t 600          every target for 10 minutes
#   scripts/fuzz.sh -n 1000000      every target for one million executions
#   scripts/fuzz.sh -t 60 FormatFuzzer CommandLineFuzzer
#   scripts/fuzz-long.sh            every target for an hour
#
# To replay a crash: build/fuzz/fuzz/<target> build/fuzz/artifacts/<file>.
# Keep the reproducer as a seed in fuzz/corpus/<target> once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=45)
while getopts "t:n:" opt; do
    case $opt in
    t) limit=(-max_total_time="$OPTARG") ;;
    n) limit=(-runs="$OPTARG") ;;
    *)
        echo "usage: $0 [-t seconds | -n executions] [target...]" >&2
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(DefinitionFuzzer InterfaceTextsFuzzer CommandLineFuzzer FormatFuzzer RemoverFuzzer
        RegFileFuzzer RestoreFuzzer)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${FUZZ_BUILD_JOBS:-2}" >/dev/null

mkdir -p build/fuzz/artifacts
status=0
for target in "${targets[@]}"; do
    work="build/fuzz/corpus/$target"
    log="build/fuzz/$target.log"
    mkdir -p "$work"
    echo "=== fuzz: $target (${limit[*]})"
    # One process at a time and niced: the machine is shared.
    if nice build/fuzz/fuzz/"$target" "${limit[@]}" -max_len=4096 -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
        "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
        echo "$target: ${runs:-?} executions, ${cov:-cov: ?}, corpus $(find "$work" -type f | wc -l) files"
    else
        echo "$target: FAILED (log $log)"
        grep -E '^==[0-9]+==|SUMMARY|property violated|Test unit written' "$log" | head -20 || true
        status=1
    fi
done
exit $status
