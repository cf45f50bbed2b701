#!/usr/bin/env bash
# 1,000 simulated ONVIF devices (onvifsim) and 1,000 cameras (camsim) on one
# virtual LAN (network namespaces, needs root): prints the records --list
# gives, its time and peak memory, and the WS-Discovery answers the
# simulator sent beside those the tool accepted (--diagnose). Run from the
# source tree after building build/.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
exec /usr/bin/python3 "$root/tests/e2e/e2e_test.py" onvif-bench \
    --app "$root/build/app/qd_ip_search" --camsim "$root/build/tools/camsim/camsim"
