#!/bin/bash
# Long fuzzing run: every target for an hour each (or the seconds given),
# one after the other. See scripts/fuzz.sh for where findings go.
#   scripts/fuzz-long.sh          an hour per target
#   scripts/fuzz-long.sh 7200     two hours per target
set -euo pipefail
exec "$(dirname "$0")/fuzz.sh" -t "${1:-3600}"
