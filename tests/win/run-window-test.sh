#!/usr/bin/env bash
# Runs a Windows window test program under Wine on a private X display
# (xvfb-run picks a free one); without Xvfb it exits 77 (skipped).
set -euo pipefail
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "SKIP: xvfb-run is not installed; cannot run $1" >&2
    exit 77
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    env QDIPC_WINE_KEEP_DISPLAY=1 "$root/scripts/wine-run.sh" "$@"
