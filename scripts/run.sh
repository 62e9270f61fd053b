#!/usr/bin/env bash
# Installs what is missing, builds, and opens Tavolin Encoder ready to stream to
# a private Icecast server on 127.0.0.1:8000 with the window's defaults (host
# localhost, port 8000, mount "live", user "source"). Press play; the stream
# is at http://localhost:8000/live. The servers started here stop when the
# window closes.
# BUILD_DIR names the build folder (default: build, shared with scripts/test.sh).
# TAVOLIN_SHOUTCAST=1 lets the private Icecast take a Shoutcast source too
# (choose "Shoutcast" in the stream dialog; the port stays 8000).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
port=8000

bash scripts/install-dependencies.sh
bash scripts/build-ffmpeg.sh "$build_dir/ffmpeg"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVOLIN_FFMPEG_PREFIX="$(cd "$build_dir/ffmpeg/prefix" && pwd)" >/dev/null
cmake --build "$build_dir" --target TavolinEncoder

# The source password: made on the first run, kept for later runs; on the
# first run it also becomes the window's stream password.
state_dir=${XDG_STATE_HOME:-$HOME/.local/state}/tavolin-encoder
password_file=$state_dir/icecast-source-password
settings_file=${XDG_CONFIG_HOME:-$HOME/.config}/Tavolin/TavolinEncoder.conf
mkdir -p "$state_dir"
if [ ! -s "$password_file" ]; then
    (umask 077 && od -An -N18 -tx1 /dev/urandom | tr -d ' \n' >"$password_file")
fi
password=$(cat "$password_file")

if ! grep -qs '^password=.' "$settings_file"; then
    mkdir -p "$(dirname "$settings_file")"
    (umask 077 && touch "$settings_file")
    chmod 600 "$settings_file"
    if grep -q '^\[General\]' "$settings_file"; then
        # An empty "password=" line is replaced; otherwise the key opens [General].
        sed -i -e '/^password=$/d' -e "s/^\[General\]\$/[General]\npassword=$password/" "$settings_file"
    else
        others=$(cat "$settings_file")
        printf '[General]\npassword=%s\n\n%s\n' "$password" "$others" >"$settings_file"
    fi
    echo "run.sh: stored the local server's source password in $settings_file"
fi

source scripts/lib/local-servers.sh
servers_init
if [ -n "${TAVOLIN_SHOUTCAST:-}" ]; then
    start_icecast "$port" "$password" /live
    echo "run.sh: Icecast also takes a Shoutcast source for /live on 127.0.0.1:$((port + 1))"
else
    start_icecast "$port" "$password"
fi
echo "run.sh: Icecast listens on 127.0.0.1:$port (user source, password in $password_file)"

# A capture device: the user's sound server when it has a source, otherwise a
# private one with a test tone that behaves like a desktop device.
if ! pactl info >/dev/null 2>&1 || [ -z "$(pactl list short sources 2>/dev/null)" ]; then
    start_tone_pulseaudio
    echo "run.sh: no sound server here; a private PulseAudio plays a test tone (source \"Monitor of Null Output\")"
fi

program=$build_dir/src/tavolin-encoder
echo "run.sh: press play; listen at http://localhost:$port/live"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    start_xvfb
    echo "run.sh: no display here: the window runs on the virtual display $DISPLAY (Xvfb), where it cannot be seen; Ctrl+C closes it"
fi
"$program" || status=$?
exit "${status:-0}"
