#!/usr/bin/env bash
# Installs what is missing, builds, and opens Tavolin Encoder ready to stream to
# a private Icecast server on 127.0.0.1:8000 with the window's defaults (host
# localhost, port 8000, mount "live", user "source"). Press play; the stream
# is at http://localhost:8000/live. The servers started here stop when the
# window closes.
# BUILD_DIR names the build folder (default: build, shared with scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
port=8000

bash scripts/install-dependencies.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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

work=$(mktemp -d)
pids=()
stop_servers() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop_servers EXIT

answers() { # GET path on the local server answers 200
    (exec 3<>"/dev/tcp/127.0.0.1/$port" && printf 'GET %s HTTP/1.0\r\n\r\n' "$1" >&3 \
        && head -n 1 <&3 | grep -q ' 200 ') 2>/dev/null
}

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "run.sh: something already listens on 127.0.0.1:$port; stop it and run again" >&2
    exit 1
fi
chmod 755 "$work"
mkdir -m 777 "$work/log"
security=
if [ "$(id -u)" -eq 0 ]; then
    # Icecast refuses to keep root.
    security='<security><chroot>0</chroot><changeowner><user>nobody</user><group>nogroup</group></changeowner></security>'
fi
cat >"$work/icecast.xml" <<XML
<icecast>
  <location>this computer</location>
  <admin>root@localhost</admin>
  <hostname>localhost</hostname>
  <limits><sources>2</sources><clients>16</clients><source-timeout>10</source-timeout></limits>
  <authentication>
    <source-password>$password</source-password>
    <admin-user>admin</admin-user>
    <admin-password>$password</admin-password>
  </authentication>
  <listen-socket><port>$port</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <paths>
    <basedir>/usr/share/icecast2</basedir>
    <logdir>$work/log</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging><errorlog>error.log</errorlog><accesslog>access.log</accesslog><loglevel>2</loglevel></logging>
  $security
</icecast>
XML
chmod 600 "$work/icecast.xml"
setsid icecast2 -c "$work/icecast.xml" >"$work/icecast.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    answers /status-json.xsl && break
    sleep 0.1
done
if ! answers /status-json.xsl; then
    echo "run.sh: Icecast did not start:" >&2
    cat "$work/icecast.out" "$work/log/error.log" >&2 2>/dev/null || true
    exit 1
fi
echo "run.sh: Icecast listens on 127.0.0.1:$port (user source, password in $password_file)"

# A capture device: the user's sound server when it has a source, otherwise a
# private PulseAudio whose null sink plays a 440 Hz tone; its monitor
# "out.monitor" behaves like a desktop device.
if ! pactl info >/dev/null 2>&1 || [ -z "$(pactl list short sources 2>/dev/null)" ]; then
    mkdir -m 700 "$work/pulse"
    XDG_RUNTIME_DIR=$work/pulse HOME=$work/pulse setsid pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --use-pid-file=no --disallow-exit \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native" \
        --load="module-null-sink sink_name=out" \
        --load="module-sine sink=out frequency=440" >"$work/pulse.out" 2>&1 &
    pids+=($!)
    export PULSE_SERVER=unix:$work/pulse/native
    for _ in $(seq 100); do
        pactl list short sources 2>/dev/null | grep -q out.monitor && break
        sleep 0.1
    done
    if ! pactl list short sources 2>/dev/null | grep -q out.monitor; then
        echo "run.sh: PulseAudio did not start:" >&2
        cat "$work/pulse.out" >&2
        exit 1
    fi
    echo "run.sh: no sound server here; a private PulseAudio plays a test tone (source \"Monitor of Null Output\")"
fi

program=$build_dir/src/TavolinEncoder
echo "run.sh: press play; listen at http://localhost:$port/live"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    # Started here rather than through xvfb-run, in a session of its own like
    # the servers above, so that Ctrl+C reaches only the program and the
    # display and the servers outlive the window's shutdown.
    display=99
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    export XAUTHORITY=$work/Xauthority
    touch "$XAUTHORITY"
    xauth -q -f "$XAUTHORITY" add ":$display" . "$(mcookie)"
    setsid Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -auth "$XAUTHORITY" >"$work/xvfb.out" 2>&1 &
    pids+=($!)
    export DISPLAY=:$display QT_QUICK_BACKEND=software
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    echo "run.sh: no display here: the window runs on the virtual display $DISPLAY (Xvfb), where it cannot be seen; Ctrl+C closes it"
fi
"$program" || status=$?
exit "${status:-0}"
