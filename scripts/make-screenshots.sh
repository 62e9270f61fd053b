#!/usr/bin/env bash
# Takes the README's pictures of the real program on a private virtual display
# (Xvfb), streaming to a private Icecast server from a private PulseAudio
# device that plays noise of changing loudness, so the meters move, and
# then silence.
# Writes docs/screenshots/*.png. Needs a build (BUILD_DIR, default build),
# xdotool and ImageMagick (scripts/install-dependencies.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
program=${BUILD_DIR:-build}/src/tavolin-encoder
out=docs/screenshots
[ -x "$program" ] || { echo "make-screenshots.sh: build the program first ($program)" >&2; exit 1; }

source scripts/lib/local-servers.sh
servers_init
port=8000
while port_is_taken "$port"; do port=$((port + 1)); done
start_icecast "$port" screenshots
start_tone_pulseaudio
start_xvfb

# Instead of the steady tone, left and right get pink noise of their own,
# swelling at different rates.
pactl unload-module module-sine
ffmpeg -nostdin -loglevel error -re \
    -f lavfi -i "anoisesrc=color=pink:amplitude=1:seed=1" -f lavfi -i "anoisesrc=color=pink:amplitude=1:seed=2" \
    -filter_complex "[0]tremolo=f=0.7:d=0.6[l];[1]tremolo=f=1.3:d=0.6[r];[l][r]join=inputs=2:channel_layout=stereo" \
    -f pulse -device out "screenshots" &
servers_pids+=($!)

export XDG_CONFIG_HOME=$servers_folder/config
mkdir -p "$XDG_CONFIG_HOME/Tavolin"
cat >"$XDG_CONFIG_HOME/Tavolin/TavolinEncoder.conf" <<CONF
[General]
hostname=localhost
port=$port
mount=live
user=source
password=screenshots
name=Tavolin Radio
description="Music and talk, live from the studio"
genre=Various
url=https://radio.tavolin.example/
CONF

start_program() { # sets program_pid and window
    "$program" >>"$servers_folder/program.txt" 2>&1 &
    program_pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tavolin Encoder$' | head -n 1)
    sleep 1
}
click() { # click WINDOW X Y, then let the window settle
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 1
}
shot() { # shot WINDOW NAME
    import -window "$1" "$out/$2.png"
    echo "make-screenshots.sh: $out/$2.png"
}
start_program
mkdir -p "$out"

# Positions in the window: the footer's and the tab bar's labels lie at
# y 175, "Stream" at x 48, "Log" at 113, "Settings" at 183; the cross at 616.
shot "$window" collapsed
click "$window" 48 175
shot "$window" tab-stream
click "$window" 183 175
shot "$window" tab-settings
click "$window" 48 175
click "$window" 462 236 # the stream's "Edit"
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Configure stream$' | head -n 1)
shot "$dialog" stream-dialog
click "$dialog" 594 648 # Cancel
click "$window" 616 175
click "$window" 88 75 # play
sleep 5
shot "$window" on-air
click "$window" 113 175
shot "$window" on-air-log
# The noise muted: the device delivers digital silence, and after the
# default 30 s the window warns of dead air.
click "$window" 616 175
pactl set-sink-input-mute "$(pactl list short sink-inputs | cut -f1 | head -n 1)" 1
sleep 33
shot "$window" silence

kill -TERM "$program_pid"
wait "$program_pid"

# The settings tab with a now-playing file chosen, as a restart finds it, and
# the stream dialog's encoding settings with Opus chosen.
mkdir -p "$servers_folder/playout"
echo "Tavolin Radio - Morning Show" >"$servers_folder/playout/now-playing.txt"
cat >>"$XDG_CONFIG_HOME/Tavolin/TavolinEncoder.conf" <<CONF
metadataFile=$servers_folder/playout/now-playing.txt
encoder=Opus
encoderIndex=2
bitrate=96k
bitrateIndex=10
CONF
start_program
click "$window" 183 175
shot "$window" tab-settings-file
click "$window" 48 175
click "$window" 462 236 # the stream's "Edit"
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Configure stream$' | head -n 1)
xdotool mousemove --window "$dialog" 400 400 click --repeat 15 5 # scrolled to its end
sleep 1
shot "$dialog" stream-dialog-opus

kill -TERM "$program_pid"
wait "$program_pid"

# Several streams on the air: the usual MP3 for every player, Opus for
# phones, and a backup server that is off; the noise back on.
pactl set-sink-input-mute "$(pactl list short sink-inputs | cut -f1 | head -n 1)" 0
cat >"$XDG_CONFIG_HOME/Tavolin/TavolinEncoder.conf" <<CONF
[General]
hostname=localhost
port=$port
mount=live
password=screenshots
name=Tavolin Radio

[stream2]
name=Tavolin Radio mobile
hostname=localhost
port=$port
mount=mobile
password=screenshots
encoder=Opus
encoderIndex=2
bitrate=96k
bitrateIndex=10

[stream3]
hostname=backup.tavolin.example
port=8000
mount=live
enabled=false
CONF
start_program
click "$window" 48 175
click "$window" 88 75 # play
sleep 5
shot "$window" streams

kill -TERM "$program_pid"
wait "$program_pid"
