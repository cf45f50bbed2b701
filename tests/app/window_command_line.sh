#!/bin/sh
# The window's own command line, run without a display: every case here ends
# before the program opens a socket (a usage error, or no display).
# Usage: window_command_line.sh PROGRAM
program=$1
fail=0
expect() {  # expected-status expected-text args...
    status=$1 text=$2
    shift 2
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@" 2>&1 >/dev/null)
    got=$?
    if [ "$got" -ne "$status" ]; then
        echo "FAIL: qd_ip_search $*: exit status $got, expected $status ($out)"
        fail=1
    fi
    case $out in
        *"$text"*) ;;
        *) echo "FAIL: qd_ip_search $*: said '$out', expected '$text'"; fail=1 ;;
    esac
}
expect 1 "cannot open a window" --no-firewall
expect 1 "cannot open a window"
# one line, and no abort
lines=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1 | wc -l)
[ "$lines" -eq 1 ] || { echo "FAIL: no display: $lines lines"; fail=1; }
expect 2 "unknown option '--lsit'" --lsit
expect 2 "unknown option '--frobnicate'" --no-firewall --frobnicate
expect 2 "unknown option '-frobnicate'" -frobnicate
expect 2 "unexpected argument 'list'" list
expect 2 "-style needs a value" -style
# a verb after another option is the verb: here its own usage error
expect 2 "--wait takes whole milliseconds" --no-firewall --wait x --list
exit $fail
