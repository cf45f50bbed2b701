#!/usr/bin/env bash
# Runs a command on a private Xvfb display with Qt's xcb platform, and stops
# the display afterwards. Exits 77 (test skipped) when Xvfb is not installed.
#   run_with_xvfb.sh <command> [arguments...]
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: Xvfb is not installed (Debian package xvfb); this test needs an X display"
    exit 77
fi
work=$(mktemp -d)
# -displayfd: Xvfb picks a free display number and writes it once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
cleanup() {
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
done
display=$(head -n 1 "$work/display" 2>/dev/null)
if [ -z "$display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@"
