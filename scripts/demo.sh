#!/usr/bin/env bash
# The demo: the search tool on a private virtual LAN of simulated cameras.
#   scripts/demo.sh [BUILD_DIR]      (./run demo builds first, then calls this)
# With a display the tool opens on it; without one it runs under Xvfb, searches,
# plays the first camera's stream and saves screenshots in demo-out/.
# Needs root for the network namespaces. Nothing is sent on the machine's own
# network: the tool, the cameras and the stream live in the namespaces, which
# are removed when the demo ends, fails or is interrupted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)

for f in app/qd_ip_search tools/camsim/camsim tools/rtspserver/rtsp_test_server; do
    if [ ! -x "$build/$f" ]; then
        echo "demo: $build/$f is not built (./run demo builds it)" >&2
        exit 1
    fi
done

display=()
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QD_DEMO_HEADLESS:-}" ]; then
    display=(--display)
fi

set +e
scripts/vlan.sh run --hosts 6 --in tool -- /usr/bin/python3 "$root/scripts/demo.py" \
    --app "$build/app/qd_ip_search" --camsim "$build/tools/camsim/camsim" \
    --rtsp "$build/tools/rtspserver/rtsp_test_server" --out "$root/demo-out" "${display[@]}"
status=$?
if [ $status -eq 77 ]; then
    echo "demo: the virtual camera LAN needs root and network namespaces (see above)." >&2
fi
exit $status
