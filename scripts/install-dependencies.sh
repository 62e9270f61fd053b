#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the program and its tests
# need; does nothing when they are all installed already.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools qtdeclarative5-dev qtquickcontrols2-5-dev
    # The window's QML modules; QtQuick.Dialogs draws its dialogs with QtQuick.Controls 1
    # and lists folders with Qt.labs.folderlistmodel when no platform dialog exists.
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
    qml-module-qtquick-controls qml-module-qtquick-layouts
    qml-module-qtquick-dialogs qml-module-qt-labs-folderlistmodel qml-module-qttest libqt5svg5
    # FFmpeg 5.1 is built from Debian's source with only what the engine uses
    # (scripts/build-ffmpeg.sh): the libraries it links, and nasm for its SIMD code.
    libpulse-dev libgnutls28-dev libmp3lame-dev libopus-dev libvorbis-dev nasm xz-utils debian-archive-keyring
    # The ffmpeg and ffprobe programs: the tests listen to the stream with them.
    ffmpeg icecast2 pulseaudio pulseaudio-utils util-linux
    # The system's certificate authorities for HTTPS; the tests make certificates with openssl.
    ca-certificates openssl
    # A virtual display for the window where there is none (scripts/run.sh, bench/windowbench).
    xvfb xauth
    # The package (scripts/package.sh): CPack's DEB generator reads the program's
    # libraries with file and dpkg-shlibdeps (dpkg-dev); the checks of its
    # desktop entry and AppStream metadata.
    file dpkg-dev desktop-file-utils appstream
    # The manual page, made from the program's --help; the check of the user
    # unit (systemd-analyze, which needs no running systemd).
    help2man systemd
    # Drawing the images and taking the screenshots (scripts/make-images.sh, make-screenshots.sh).
    imagemagick librsvg2-bin fonts-dejavu-core xdotool
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
