#!/bin/bash
# Runs a command with a fresh copy of a template Wine prefix:
#   fresh-prefix.sh TEMPLATE PREFIX COMMAND [ARGUMENTS...]
# PREFIX is replaced by a copy of TEMPLATE first. A prefix is large (about
# 0.6 GB), so the copy is removed again when the command succeeds; after a
# failure it stays for a look.
set -euo pipefail
template="$1"
prefix="$2"
shift 2
if [ ! -f "$template/system.reg" ]; then
    echo "FAIL: no template prefix at $template (scripts/setup-i386.sh makes it)"
    exit 1
fi
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
cp -a "$template" "$prefix"
set +e
"$@"
status=$?
set -e
if [ $status -eq 0 ]; then
    rm -rf "$prefix"
fi
exit $status
