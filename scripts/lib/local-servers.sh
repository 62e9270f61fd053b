# Private servers on this computer for scripts/run.sh and scripts/make-screenshots.sh.
# Source it, call servers_init once, then the start functions; every server
# runs in a session of its own (Ctrl+C in the terminal reaches only the
# program) and servers_stop, registered on EXIT, ends them and removes
# their folder.

servers_init() {
    servers_folder=$(mktemp -d)
    chmod 755 "$servers_folder"
    servers_pids=()
    trap servers_stop EXIT
    # A script ended by a signal stops its servers too.
    trap 'exit 143' TERM
    trap 'exit 130' INT
}

servers_stop() { # the last started first: a client goes before its server
    local i pid
    for ((i = ${#servers_pids[@]} - 1; i >= 0; i--)); do
        pid=${servers_pids[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$servers_folder"
}

# http_answers PORT PATH: a GET on 127.0.0.1:PORT answers 200.
http_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1" && printf 'GET %s HTTP/1.0\r\n\r\n' "$2" >&3 \
        && head -n 1 <&3 | grep -q ' 200 ') 2>/dev/null
}

port_is_taken() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# start_icecast PORT PASSWORD [SHOUTCAST_MOUNT]: Icecast on 127.0.0.1:PORT;
# sources log in as "source" with PASSWORD, which is also the admin password.
# With SHOUTCAST_MOUNT ("/live") it also takes a Shoutcast source for that
# mount on PORT + 1.
start_icecast() {
    local port=$1 password=$2 shoutcast_mount=${3:-} folder=$servers_folder/icecast security= shoutcast=
    for taken in "$port" ${shoutcast_mount:+$((port + 1))}; do
        if port_is_taken "$taken"; then
            echo "something already listens on 127.0.0.1:$taken; stop it and try again" >&2
            return 1
        fi
    done
    if [ -n "$shoutcast_mount" ]; then
        shoutcast="<shoutcast-mount>$shoutcast_mount</shoutcast-mount>"
    fi
    mkdir -m 755 "$folder"
    mkdir -m 777 "$folder/log"
    if [ "$(id -u)" -eq 0 ]; then
        # Icecast refuses to keep root.
        security='<security><chroot>0</chroot><changeowner><user>nobody</user><group>nogroup</group></changeowner></security>'
    fi
    cat >"$folder/icecast.xml" <<XML
<icecast>
  <location>this computer</location>
  <admin>root@localhost</admin>
  <hostname>localhost</hostname>
  <limits><sources>8</sources><clients>16</clients><source-timeout>10</source-timeout></limits>
  <authentication>
    <source-password>$password</source-password>
    <admin-user>admin</admin-user>
    <admin-password>$password</admin-password>
  </authentication>
  <listen-socket><port>$port</port><bind-address>127.0.0.1</bind-address>$shoutcast</listen-socket>
  <paths>
    <basedir>/usr/share/icecast2</basedir>
    <logdir>$folder/log</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging><errorlog>error.log</errorlog><accesslog>access.log</accesslog><loglevel>2</loglevel></logging>
  $security
</icecast>
XML
    chmod 600 "$folder/icecast.xml"
    setsid icecast2 -c "$folder/icecast.xml" >"$folder/output.txt" 2>&1 &
    servers_pids+=($!)
    for _ in $(seq 100); do
        http_answers "$port" /status-json.xsl && return 0
        sleep 0.1
    done
    echo "Icecast did not start:" >&2
    cat "$folder/output.txt" "$folder/log/error.log" >&2 2>/dev/null
    return 1
}

# start_tone_pulseaudio: a private PulseAudio whose null sink "out" plays a
# 440 Hz tone; its monitor "out.monitor" ("Monitor of Null Output") behaves
# like a desktop capture device. Exports PULSE_SERVER.
start_tone_pulseaudio() {
    local folder=$servers_folder/pulse
    mkdir -m 700 "$folder"
    XDG_RUNTIME_DIR=$folder HOME=$folder setsid pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --use-pid-file=no --disallow-exit \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$folder/native" \
        --load="module-null-sink sink_name=out" \
        --load="module-sine sink=out frequency=440" >"$folder/output.txt" 2>&1 &
    servers_pids+=($!)
    export PULSE_SERVER=unix:$folder/native
    for _ in $(seq 100); do
        pactl list short sources 2>/dev/null | grep -q out.monitor && return 0
        sleep 0.1
    done
    echo "PulseAudio did not start:" >&2
    cat "$folder/output.txt" >&2
    return 1
}

# start_xvfb: a virtual 1280x1024 display for the window, with its own
# authority file. Exports DISPLAY and XAUTHORITY; the program picks its
# renderer itself, as on a user's desktop.
start_xvfb() {
    local display=99
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    export XAUTHORITY=$servers_folder/Xauthority
    touch "$XAUTHORITY"
    xauth -q -f "$XAUTHORITY" add ":$display" . "$(mcookie)"
    setsid Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -auth "$XAUTHORITY" \
        >"$servers_folder/xvfb.txt" 2>&1 &
    servers_pids+=($!)
    export DISPLAY=:$display
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && return 0
        sleep 0.1
    done
    echo "Xvfb did not start:" >&2
    cat "$servers_folder/xvfb.txt" >&2
    return 1
}
