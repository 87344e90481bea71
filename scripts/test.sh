#!/bin/bash
# Installs what is missing, builds every preset and runs every test.
# Exits non-zero when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# CI treats warnings as errors.
if [ "${CI:-}" = "true" ]; then
    export KEYSTRIP_WERROR=ON
fi

jobs=$(nproc)
status=0

# The 32-bit Wine for the shipping tests (below) is set up meanwhile: on a
# fresh machine that is minutes of downloading and unpacking, which the
# builds need not wait for.
mkdir -p build
scripts/setup-i386.sh >build/setup-i386.log 2>&1 &
setup_i386=$!
for preset in native win64 win32-release fuzz; do
    echo "=== configure and build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

echo "=== lint"
scripts/lint.sh || status=1

# The audit test of the win64 tree reads the win32-release exe built above.
export KEYSTRIP_AUDIT_REQUIRED=1
for preset in native win64 fuzz; do
    echo "=== test: $preset"
    ctest --preset "$preset" -j "$jobs" || status=1
done

# Every fuzz target for a short, bounded time (45 s each); scripts/fuzz-long.sh
# runs them for hours.
echo "=== fuzz"
scripts/fuzz.sh -t "${FUZZ_SECONDS:-45}" || status=1

# The shipping i686 exe end to end under 32-bit Wine, which runs here through
# qemu user-mode emulation in an i386 chroot: set up once (minutes), then
# seconds. A set-up that fails fails the run; nothing is skipped.
echo "=== shipping: the i686 exe under 32-bit Wine"
start=$SECONDS
if wait "$setup_i386"; then
    cat build/setup-i386.log
    ctest --preset win32-release -L shipping -j "$jobs" || status=1
else
    cat build/setup-i386.log
    echo "FAIL: no 32-bit Wine, so the shipping exe was not tested"
    status=1
fi
echo "=== shipping: $((SECONDS - start)) s"
echo "=== test.sh: $SECONDS s in all"
exit $status
