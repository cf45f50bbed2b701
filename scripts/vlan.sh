#!/usr/bin/env bash
# A private virtual camera LAN made of two Linux network namespaces:
#
#   <name>-tool   where the tool runs: lan0 = <prefix>.1/24, default route on lan0
#   <name>-cams   where the simulated cameras run: lan0 = <prefix>.2 ... <prefix>.(1+hosts)/24
#
# joined by one veth pair that is created directly inside the two namespaces, so
# nothing is added to, or sent from, the machine's own network namespace. The
# default routes make the limited broadcast 255.255.255.255 leave each namespace
# through lan0 and nowhere else.
#
# With --lans 2 a second camera LAN is added, as on a host with a camera
# network on a second port:
#
#   <name>-tool   also lan1 = <prefix2>.1/24, no route beyond its own subnet
#   <name>-cams2  lan0 = <prefix2>.2 ... <prefix2>.(1+hosts)/24, default route on lan0
#
# The tool's namespace also gets its own hosts file (through
# /etc/netns/<name>-tool/hosts, which `ip netns exec` mounts over /etc/hosts) in
# which the machine's host name resolves to <prefix>.1, so that a program that
# looks up its own name there finds its LAN address.
#
# Usage:
#   vlan.sh run [--name NAME] [--hosts N] [--lans 1|2] [--in tool|cams] -- COMMAND [ARGS...]
#       Creates the LAN, runs COMMAND with the variables below exported, and
#       removes the LAN when COMMAND ends, fails or is interrupted (Ctrl+C,
#       SIGTERM). COMMAND runs in the machine's own namespace, or with --in in
#       the tool's or the cameras' namespace. Exits with COMMAND's exit code.
#       Example: vlan.sh run --in tool -- build/app/qd_ip_search
#   vlan.sh up [--name NAME] [--hosts N] [--lans 1|2]
#       Creates the LAN and prints the variables below as shell assignments.
#       The caller must call `vlan.sh down NAME` (also on failure).
#   vlan.sh down NAME
#       Stops whatever still runs in the two namespaces and removes them.
#   vlan.sh sweep
#       Removes LANs left behind by runs whose process no longer exists.
#
# Variables: QD_VLAN_NAME, QD_VLAN_TOOL_NS, QD_VLAN_CAMS_NS, QD_VLAN_PREFIX,
# QD_VLAN_TOOL_IP, QD_VLAN_CAMS_IP (the first camera host address),
# QD_VLAN_CAMS_IPS (all camera host addresses, space separated); with --lans 2
# also QD_VLAN_CAMS2_NS, QD_VLAN_PREFIX2, QD_VLAN_TOOL_IP2, QD_VLAN_CAMS2_IPS
# (empty otherwise).
#
# NAME defaults to qdv<pid>, and the /24 is derived from the owner's PID, so that
# several LANs (parallel tests) never share names or subnets. Needs root; exits
# with 77 when it is not root or the system refuses network namespaces, so tests
# can report a skip.
set -euo pipefail

readonly skip_code=77
self=$(basename "$0")

die() {
    echo "$self: $*" >&2
    exit 1
}

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "$self: creating network namespaces needs root; run this as root (or with sudo)." >&2
        exit $skip_code
    fi
    if ! command -v ip >/dev/null; then
        echo "$self: the 'ip' command (Debian package iproute2) is missing." >&2
        exit $skip_code
    fi
}

# The owner PID is the number in qdv<pid>; other names have no owner.
owner_pid() {
    local name=$1
    if [[ $name =~ ^qdv([0-9]+)$ ]]; then
        echo "${BASH_REMATCH[1]}"
    fi
}

# 10.a.b.0/24 from a number: a in 64..191, b in 0..255. The spread over the
# PID keeps concurrent runs on different subnets.
prefix_for() {
    local n=$1
    echo "10.$((64 + (n >> 8) % 128)).$((n & 255))"
}

# The second LAN's /24: a in 192..255, so it never meets a first LAN's.
prefix2_for() {
    local n=$1
    echo "10.$((192 + (n >> 8) % 64)).$((n & 255))"
}

teardown() {
    local name=$1 ns pid
    for ns in "$name-tool" "$name-cams" "$name-cams2"; do
        if [ -e "/run/netns/$ns" ]; then
            # Whatever is still running inside belongs to this LAN's run: end
            # it by PID, politely first.
            for pid in $(ip netns pids "$ns" 2>/dev/null); do
                kill -TERM "$pid" 2>/dev/null || true
            done
            for _ in 1 2 3 4 5 6 7 8 9 10; do
                [ -z "$(ip netns pids "$ns" 2>/dev/null)" ] && break
                sleep 0.1
            done
            for pid in $(ip netns pids "$ns" 2>/dev/null); do
                kill -KILL "$pid" 2>/dev/null || true
            done
            ip netns del "$ns" 2>/dev/null || true
        fi
    done
    rm -rf "/etc/netns/$name-tool"
}

sweep() {
    local f name pid
    [ -d /run/netns ] || return 0
    for f in /run/netns/qdv*-tool /run/netns/qdv*-cams /run/netns/qdv*-cams2; do
        [ -e "$f" ] || continue
        name=$(basename "$f")
        name=${name%-tool}
        name=${name%-cams2}
        name=${name%-cams}
        pid=$(owner_pid "$name")
        if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
            echo "$self: removing $name, left behind by a run that has ended" >&2
            teardown "$name"
        fi
    done
}

# A camera namespace on the tool's interface toolif: the veth pair (lan0 on
# the camera side), the tool at .1 and the hosts from .2 on, links up and the
# cameras' default route. Every step is checked: this runs in a condition,
# where errexit does not apply.
cams_link_up() {
    local tool=$1 toolif=$2 cams=$3 prefix=$4 hosts=$5 i
    ip netns add "$cams" || return 1
    ip link add "$toolif" netns "$tool" type veth peer name lan0 netns "$cams" || return 1
    ip -n "$cams" link set lo up || return 1
    ip -n "$tool" addr add "$prefix.1/24" broadcast "$prefix.255" dev "$toolif" || return 1
    for ((i = 0; i < hosts; i++)); do
        ip -n "$cams" addr add "$prefix.$((2 + i))/24" broadcast "$prefix.255" dev lan0 || return 1
    done
    ip -n "$tool" link set "$toolif" up || return 1
    ip -n "$cams" link set lan0 up || return 1
    ip -n "$cams" route add default dev lan0 || return 1
}

# The first camera LAN on the tool's lan0, which carries the tool's default
# route; a second one goes on lan1 without a route of the tool's.
link_up() {
    local tool=$1 cams=$2 prefix=$3 hosts=$4
    ip -n "$tool" link set lo up || return 1
    cams_link_up "$tool" lan0 "$cams" "$prefix" "$hosts" || return 1
    ip -n "$tool" route add default dev lan0 || return 1
}

# Creates the LAN; on any failure removes what was made and exits.
create() {
    local name=$1 hosts=$2 number=$3 lans=$4
    local tool="$name-tool" cams="$name-cams" cams2="$name-cams2" prefix prefix2 i

    prefix=$(prefix_for "$number")
    prefix2=$(prefix2_for "$number")
    if [ -e "/run/netns/$tool" ] || [ -e "/run/netns/$cams" ] || [ -e "/run/netns/$cams2" ]; then
        die "a LAN named $name exists already (remove it with: $0 down $name)"
    fi
    local err
    if ! err=$(ip netns add "$tool" 2>&1); then
        echo "$self: the system refuses to create a network namespace: $err" >&2
        exit $skip_code
    fi
    if ! link_up "$tool" "$cams" "$prefix" "$hosts" ||
        { [ "$lans" -eq 2 ] && ! cams_link_up "$tool" lan1 "$cams2" "$prefix2" "$hosts"; }; then
        teardown "$name"
        echo "$self: could not set up the virtual LAN $name" >&2
        exit $skip_code
    fi
    mkdir -p "/etc/netns/$tool"
    printf '127.0.0.1\tlocalhost\n%s\t%s\n' "$prefix.1" "$(hostname)" >"/etc/netns/$tool/hosts"

    local ips=""
    for ((i = 0; i < hosts; i++)); do
        ips+="${ips:+ }$prefix.$((2 + i))"
    done
    QD_VLAN_NAME=$name
    QD_VLAN_TOOL_NS=$tool
    QD_VLAN_CAMS_NS=$cams
    QD_VLAN_PREFIX=$prefix
    QD_VLAN_TOOL_IP=$prefix.1
    QD_VLAN_CAMS_IP=$prefix.2
    QD_VLAN_CAMS_IPS=$ips
    QD_VLAN_CAMS2_NS="" QD_VLAN_PREFIX2="" QD_VLAN_TOOL_IP2="" QD_VLAN_CAMS2_IPS=""
    if [ "$lans" -eq 2 ]; then
        ips=""
        for ((i = 0; i < hosts; i++)); do
            ips+="${ips:+ }$prefix2.$((2 + i))"
        done
        QD_VLAN_CAMS2_NS=$cams2
        QD_VLAN_PREFIX2=$prefix2
        QD_VLAN_TOOL_IP2=$prefix2.1
        QD_VLAN_CAMS2_IPS=$ips
    fi
}

print_vars() {
    local v
    for v in QD_VLAN_NAME QD_VLAN_TOOL_NS QD_VLAN_CAMS_NS QD_VLAN_PREFIX QD_VLAN_TOOL_IP \
        QD_VLAN_CAMS_IP QD_VLAN_CAMS_IPS QD_VLAN_CAMS2_NS QD_VLAN_PREFIX2 QD_VLAN_TOOL_IP2 \
        QD_VLAN_CAMS2_IPS; do
        printf "%s='%s'\n" "$v" "${!v}"
    done
}

# Parses --name, --hosts, --lans and --in; leaves the rest in the array `rest`.
name="" hosts=1 lans=1 inside="" rest=()
parse_options() {
    while [ $# -gt 0 ]; do
        case "$1" in
            --name) name=$2; shift 2 ;;
            --hosts) hosts=$2; shift 2 ;;
            --lans) lans=$2; shift 2 ;;
            --in) inside=$2; shift 2 ;;
            --) shift; rest=("$@"); return ;;
            *) die "unknown option $1" ;;
        esac
    done
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
    up)
        parse_options "$@"
        need_root
        sweep
        [[ $hosts =~ ^[0-9]+$ ]] && [ "$hosts" -ge 1 ] && [ "$hosts" -le 200 ] ||
            die "--hosts takes 1 to 200"
        [[ $lans =~ ^[12]$ ]] || die "--lans takes 1 or 2"
        # Without a name the LAN belongs to the calling process (our parent).
        [ -n "$name" ] || name="qdv$PPID"
        owner=$(owner_pid "$name")
        create "$name" "$hosts" "${owner:-$$}" "$lans"
        print_vars
        ;;
    down)
        [ $# -eq 1 ] || die "usage: $0 down NAME"
        need_root
        teardown "$1"
        ;;
    sweep)
        need_root
        sweep
        ;;
    run)
        parse_options "$@"
        [ ${#rest[@]} -gt 0 ] || die "usage: $0 run [--name NAME] [--hosts N] [--lans 1|2] [--in tool|cams] -- COMMAND [ARGS...]"
        case "$inside" in
            "" | tool | cams) ;;
            *) die "--in takes tool or cams" ;;
        esac
        need_root
        sweep
        [[ $hosts =~ ^[0-9]+$ ]] && [ "$hosts" -ge 1 ] && [ "$hosts" -le 200 ] ||
            die "--hosts takes 1 to 200"
        [[ $lans =~ ^[12]$ ]] || die "--lans takes 1 or 2"
        [ -n "$name" ] || name="qdv$$"
        owner=$(owner_pid "$name")
        # Armed before anything exists, so that an interrupt at any point
        # removes what was made so far.
        trap 'teardown "$name"' EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        trap 'exit 129' HUP
        create "$name" "$hosts" "${owner:-$$}" "$lans"
        export QD_VLAN_NAME QD_VLAN_TOOL_NS QD_VLAN_CAMS_NS QD_VLAN_PREFIX QD_VLAN_TOOL_IP \
            QD_VLAN_CAMS_IP QD_VLAN_CAMS_IPS QD_VLAN_CAMS2_NS QD_VLAN_PREFIX2 QD_VLAN_TOOL_IP2 \
            QD_VLAN_CAMS2_IPS
        # Run the command in the background and wait, so that a signal reaches
        # this shell's traps at once rather than after the command ends.
        if [ -n "$inside" ]; then
            rest=(ip netns exec "$name-$inside" "${rest[@]}")
        fi
        set +e
        "${rest[@]}" &
        child=$!
        trap 'kill -TERM $child 2>/dev/null; wait $child; exit 130' INT
        trap 'kill -TERM $child 2>/dev/null; wait $child; exit 143' TERM
        trap 'kill -TERM $child 2>/dev/null; wait $child; exit 129' HUP
        wait $child
        status=$?
        exit $status
        ;;
    *)
        sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
        exit 2
        ;;
esac
