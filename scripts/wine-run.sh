#!/usr/bin/env bash
# Runs one Windows program under Wine: CTest's emulator in the Windows cross
# build (build-win/), and usable by hand:
#     scripts/wine-run.sh build-win/tests/discovery/discovery_worker_test.exe
#
# The Wine prefix is private to the build (WINEPREFIX, else build-win/wineprefix)
# and is created once, under a lock, the first time a program runs. Wine's debug
# channels are off, and its Mono and Gecko installers are never offered.
# Without Wine it exits 77, which CTest counts as a skipped test.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 program.exe [arguments...]" >&2
    exit 2
fi

wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then
        wine=$(command -v "$candidate")
        break
    fi
done
if [ -z "$wine" ]; then
    echo "SKIP: Wine is not installed (apt-get install wine64); cannot run $1" >&2
    exit 77
fi

root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# No window of Wine's own may need a display; the window tests keep the one
# they were given (QDIPC_WINE_KEEP_DISPLAY=1, a private Xvfb).
if [ "${QDIPC_WINE_KEEP_DISPLAY:-}" != 1 ]; then
    unset DISPLAY WAYLAND_DISPLAY
fi

ready=$WINEPREFIX/.qdipc-prefix-ready
if [ ! -e "$ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -e "$ready" ]; then
        # The first start creates the prefix; what Wine says meanwhile goes
        # to a log, not into the test's output.
        if ! "$wine" wineboot --init >"$WINEPREFIX.init.log" 2>&1; then
            echo "Wine could not create its prefix $WINEPREFIX; see $WINEPREFIX.init.log" >&2
            exit 1
        fi
        : >"$ready"
    fi
    flock -u 9
    exec 9>&-
fi

exec "$wine" "$@"
