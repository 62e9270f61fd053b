#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the program and its tests need.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools qtdeclarative5-dev qtquickcontrols2-5-dev
    libavdevice-dev libavformat-dev libavfilter-dev libavcodec-dev libavutil-dev libswresample-dev
    ffmpeg icecast2 pulseaudio pulseaudio-utils util-linux
)

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
