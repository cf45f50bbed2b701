#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the tool needs,
# skipping the ones that are already there. Needs root (or sudo) only when
# something is missing.
set -euo pipefail

packages=(
    # toolchain
    g++ cmake ninja-build clang libclang-rt-14-dev googletest libgtest-dev pkg-config
    # the command line's option parser (header-only)
    libcli11-dev
    # reading nftables' JSON ruleset for the network diagnosis
    nlohmann-json3-dev
    # the program: Qt 6 and libvlc with its decoders and video outputs
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libvlc-dev vlc-plugin-base
    vlc-plugin-video-output
    # RTSP client for the preview where libvlc has none of its own
    libavformat-dev libavcodec-dev libavutil-dev
    # CJK fonts for the dialogs: a Song face with the forms' metrics (AR PL UMing), a fallback
    fonts-arphic-uming fonts-wqy-zenhei
    # headless display, input and screenshots for the window tests and the demo
    xvfb xdotool x11-utils x11-apps imagemagick
    # a standard RTSP server for the preview tests and the demo
    libgstrtspserver-1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad
    # the Windows build of the core and its tests (mingw-w64), run under Wine
    g++-mingw-w64-x86-64-posix wine64
    # virtual camera networks (network namespaces); nft for the diagnosis test's
    # firewall rule inside its namespace
    iproute2 nftables
    # reading the windows as a screen reader does, for the end-to-end tests
    dbus-daemon dbus-bin at-spi2-core python3 python3-pyatspi
    # the Debian package: dependencies, checks of the package, its desktop
    # entry and its AppStream metadata, and rendering the icon's SVG
    dpkg-dev lintian desktop-file-utils appstream librsvg2-bin
)

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
