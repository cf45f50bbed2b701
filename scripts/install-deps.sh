#!/usr/bin/env bash
# Installs the Debian packages a task needs, skipping the ones that are already
# there. Needs root (or sudo) only when something is missing.
#   scripts/install-deps.sh run       build and run the tool (its window and command line)
#   scripts/install-deps.sh demo      run, plus the simulated cameras' LAN and the headless demo
#   scripts/install-deps.sh package   run, plus building and checking the Debian package
#                                     and the Windows installer
#   scripts/install-deps.sh test      everything: every test, the Windows build, the fuzzers
#   scripts/install-deps.sh --list KIND   print the packages of KIND, one a line
# Without an argument: test (everything).
set -euo pipefail

# Building and running the program.
run_packages=(
    # toolchain
    g++ cmake ninja-build pkg-config ccache
    # the command line's option parser (header-only)
    libcli11-dev
    # reading nftables' JSON ruleset for the network diagnosis
    nlohmann-json3-dev
    # a device's web services: HTTP (libcurl), SOAP read by namespace (expat),
    # the login's SHA-1 and Base64 (OpenSSL's libcrypto)
    libcurl4-openssl-dev libexpat1-dev libssl-dev
    # the program: Qt 6 and libvlc with its decoders and video outputs
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libvlc-dev vlc-plugin-base
    vlc-plugin-video-output
    # RTSP client for the preview where libvlc has none of its own; the
    # command line's snapshot decodes and scales one picture with them
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
    # CJK fonts for the dialogs: a Song face with the forms' metrics (AR PL UMing), a fallback
    fonts-arphic-uming fonts-wqy-zenhei
)

# The demo: simulated cameras and a stream on a private virtual LAN, the tool
# under a headless display, driven as a person would and read as a screen
# reader does.
demo_packages=(
    # a standard RTSP server for the demo's stream (and the preview tests)
    libgstrtspserver-1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad
    # virtual camera networks (network namespaces)
    iproute2
    # headless display, input and screenshots
    xvfb xdotool x11-utils x11-apps imagemagick
    # reading the windows as a screen reader does
    dbus-daemon dbus-bin at-spi2-core python3 python3-pyatspi
)

# The Debian package: dependencies, checks of the package, its desktop entry
# and its AppStream metadata, and rendering the icon's SVG; the Windows
# downloads: the programs cross-built (mingw-w64) and the installer (NSIS).
package_packages=(dpkg-dev lintian desktop-file-utils appstream librsvg2-bin
    g++-mingw-w64-x86-64-posix nsis)

# The tests besides the demo's: unit tests, sanitizers and fuzzers (clang),
# and the Windows build of the core and its tests (mingw-w64), run under Wine.
test_packages=(
    clang libclang-rt-14-dev googletest libgtest-dev
    g++-mingw-w64-x86-64-posix wine64
    # nft, for the diagnosis test's firewall rule inside its own namespace
    nftables
)

kind=test
list_only=""
if [ "${1:-}" = "--list" ]; then
    list_only=1
    shift
fi
[ $# -gt 0 ] && kind=$1
case "$kind" in
    run) packages=("${run_packages[@]}") ;;
    demo) packages=("${run_packages[@]}" "${demo_packages[@]}") ;;
    package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
    test | all)
        packages=("${run_packages[@]}" "${demo_packages[@]}" "${package_packages[@]}"
                   "${test_packages[@]}")
        ;;
    *)
        echo "usage: scripts/install-deps.sh [--list] [run|demo|package|test]" >&2
        exit 2
        ;;
esac

if [ -n "$list_only" ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
        sudo="sudo"
    else
        echo "error: packages are missing (${missing[*]}) and this user cannot install them; run as root." >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
