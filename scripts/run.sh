#!/bin/bash
# Installs what is missing and builds everything. The wizard window itself
# arrives with the main window; until then this builds every preset.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in native win64 win32-release; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
echo "Built. The wizard executable is not part of the build yet."
