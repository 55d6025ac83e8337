#!/usr/bin/env bash
# Installs what building and testing the driver needs on Debian 12: the toolchain, the libraries
# the code links, and the real peers the interoperability tests talk to (they are skipped with a
# message where a peer is missing). Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang clang-tidy
    libgtest-dev libgmock-dev libbenchmark-dev libcurl4-openssl-dev libssl-dev
    # peers of the interoperability tests
    lighttpd lighttpd-mod-openssl openssl apache2-utils ffmpeg curl python3
    python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-tools
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
    # h264parse and h265parse in front of the RTP payloaders; ffmpeg encodes H.265 with libx265
    gstreamer1.0-plugins-bad
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
