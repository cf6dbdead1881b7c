#!/usr/bin/env bash
# Installs the Debian packages Clipwell needs to build and run, when any is missing.
# Sourced by run.sh and test.sh. As root it runs apt-get; otherwise it prints the line to run.
CLIPWELL_PACKAGES=(
    build-essential cmake pkg-config
    libavcodec-dev libavformat-dev libavutil-dev libswresample-dev libswscale-dev
    libavfilter-dev libavdevice-dev
    libavcodec59 libavformat59 libavutil57 libswresample4 libswscale6 libavfilter8
    libsdl2-dev libsdl2-2.0-0
    qt6-base-dev libgl-dev
    libgtest-dev
)

clipwell_missing_packages() {
    local missing=()
    for p in "${CLIPWELL_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    echo "${missing[@]}"
}

clipwell_install_deps() {
    local missing
    missing=$(clipwell_missing_packages "$@")
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" = "0" ]; then
        echo "Installing: $missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q && apt-get install -y -q --no-install-recommends $missing
    else
        echo "Missing packages. Run as root:"
        echo "  apt-get install -y $missing"
        return 1
    fi
}
