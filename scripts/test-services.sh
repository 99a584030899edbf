#!/usr/bin/env bash
# Starts and stops the services the tests use, all private to this run:
#   - a PulseAudio server with a null sink "vt_null" (in a temporary XDG_RUNTIME_DIR),
#   - a system bus of the run's own (a dbus-daemon on a socket in the run's folder, named to the
#     tests and avahi tools by DBUS_SYSTEM_BUS_ADDRESS) and an avahi-daemon on it, confined to
#     loopback (allow-interfaces=lo), in a mount namespace of its own (its pid file and socket on
#     a tmpfs) and a network namespace of its own where the machine allows it,
#   - an X server in memory (Xvfb, no TCP) for the plug-in window's embedding test.
# The machine's own bus and avahi-daemon, and those of other runs, are neither used nor stopped:
# each service is stopped by the PID this run started.
# Source this file, then call vt_start_services / vt_stop_services.
# A service that cannot start is reported and skipped; the tests that need it skip themselves.

vt_services_dir=""

# The process runs (a child that has ended but is not yet reaped does not).
vt_running() {
    [ -e "/proc/$1" ] && [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

# Ends a process this run started: SIGTERM, then SIGKILL after 5 s; a child of this shell is reaped.
vt_stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 250); do
        vt_running "$pid" || break
        sleep 0.02
    done
    if vt_running "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
    wait "$pid" 2>/dev/null || true
}

vt_start_pulse() {
    command -v pulseaudio >/dev/null || { echo "services: pulseaudio not installed; sound tests skip"; return 0; }
    export XDG_RUNTIME_DIR="$vt_services_dir/run"
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    # In the foreground of a background job, so that it is stopped by its PID.
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target="file:$XDG_RUNTIME_DIR/pa.log" \
        -L "module-native-protocol-unix auth-anonymous=1" \
        -L "module-null-sink sink_name=vt_null rate=48000 channels=2" >/dev/null 2>&1 &
    vt_pulse_pid=$!
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        kill -0 "$vt_pulse_pid" 2>/dev/null || break
        sleep 0.05
    done
    if pactl info >/dev/null 2>&1; then
        pactl set-default-sink vt_null
        export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native" VT_TEST_PULSE=1
        echo "services: PulseAudio running with null sink vt_null"
    else
        vt_stop_pid "$vt_pulse_pid"
        vt_pulse_pid=""
        echo "services: PulseAudio did not start; sound tests skip"
    fi
}

vt_start_avahi() {
    command -v avahi-daemon >/dev/null && command -v dbus-daemon >/dev/null && command -v unshare >/dev/null ||
        { echo "services: avahi-daemon, dbus-daemon or unshare not installed; DNS-SD tests skip"; return 0; }
    if [ "$(id -u)" -ne 0 ]; then
        echo "services: not root, so no private avahi-daemon; DNS-SD tests skip"
        return 0
    fi
    cat >"$vt_services_dir/avahi-daemon.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
CONF
    # The run's own system bus, open to every name and message as the tests need.
    cat >"$vt_services_dir/bus.conf" <<CONF
<busconfig><type>system</type><listen>unix:path=$vt_services_dir/system_bus_socket</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy>
</busconfig>
CONF
    if ! dbus-daemon --config-file="$vt_services_dir/bus.conf" --fork --print-pid >"$vt_services_dir/dbus.pid" 2>/dev/null; then
        echo "services: the private system bus did not start; DNS-SD tests skip"
        return 0
    fi
    vt_dbus_pid=$(head -n1 "$vt_services_dir/dbus.pid")
    vt_saved_system_bus=${DBUS_SYSTEM_BUS_ADDRESS-unset}
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$vt_services_dir/system_bus_socket"

    # avahi-daemon keeps its pid file and socket in /run/avahi-daemon, where the machine's daemon
    # keeps its own: it gets a tmpfs there in a mount namespace of its own (the folder is only the
    # mount point). Inside a network namespace of its own as well where the machine allows it (its
    # loopback only); clients reach the daemon through the bus socket either way.
    mkdir -p /run/avahi-daemon
    local in_netns=()
    vt_avahi_netns="vellumtide-avahi-${vt_services_dir##*.}"
    if command -v ip >/dev/null && ip netns add "$vt_avahi_netns" 2>/dev/null; then
        ip netns exec "$vt_avahi_netns" ip link set lo up
        in_netns=(ip netns exec "$vt_avahi_netns")
    else
        vt_avahi_netns=""
    fi
    # Every step execs the next: the PID is the daemon's.
    "${in_netns[@]}" unshare -m --propagation private sh -c \
        'mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-chroot --no-drop-root -f "$1"' \
        sh "$vt_services_dir/avahi-daemon.conf" >"$vt_services_dir/avahi.log" 2>&1 &
    vt_avahi_pid=$!
    for _ in $(seq 200); do
        vt_avahi_ready && break
        kill -0 "$vt_avahi_pid" 2>/dev/null || break
        sleep 0.05
    done
    if vt_avahi_ready; then
        export VT_TEST_AVAHI=1
        echo "services: avahi-daemon running on loopback only on a private bus${vt_avahi_netns:+ (network namespace $vt_avahi_netns)}"
    else
        echo "services: avahi-daemon did not start; DNS-SD tests skip"
        sed 's/^/services:   /' "$vt_services_dir/avahi.log" | tail -n 5
        vt_stop_avahi
    fi
}

# The run's avahi-daemon answers on the run's bus and has registered its host name.
vt_avahi_ready() {
    dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
        org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'
}

# Stops this run's avahi-daemon and bus (by PID) and removes its network namespace.
vt_stop_avahi() {
    vt_stop_pid "${vt_avahi_pid:-}"
    vt_avahi_pid=""
    if [ -n "${vt_avahi_netns:-}" ]; then ip netns del "$vt_avahi_netns" 2>/dev/null || true; fi
    vt_avahi_netns=""
    vt_stop_pid "${vt_dbus_pid:-}"
    vt_dbus_pid=""
    if [ -n "${vt_saved_system_bus:-}" ]; then
        if [ "$vt_saved_system_bus" = unset ]; then
            unset DBUS_SYSTEM_BUS_ADDRESS
        else
            export DBUS_SYSTEM_BUS_ADDRESS="$vt_saved_system_bus"
        fi
        vt_saved_system_bus=""
    fi
    unset VT_TEST_AVAHI
}

vt_start_xvfb() {
    command -v Xvfb >/dev/null || { echo "services: Xvfb not installed; X11 window tests skip"; return 0; }
    # Another run may take the same free display at the same moment: then this server ends, and
    # the next free display is tried.
    local display=99
    for _ in 1 2 3 4 5; do
        while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
        Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$vt_services_dir/xvfb.log" 2>&1 &
        vt_xvfb_pid=$!
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$display" ] && break
            kill -0 "$vt_xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        # The socket may be the other server's: this one must still run a moment later.
        sleep 0.1
        if [ -e "/tmp/.X11-unix/X$display" ] && vt_running "$vt_xvfb_pid"; then
            export DISPLAY=":$display" VT_TEST_X11=1
            echo "services: Xvfb running on display :$display"
            return 0
        fi
        vt_stop_pid "$vt_xvfb_pid"
        vt_xvfb_pid=""
        display=$((display + 1))
    done
    echo "services: Xvfb did not start; X11 window tests skip"
}

# A test that presses a link by mistake (a key landing on another control under load) opens
# nothing: xdg-open, which Qt's URL opener runs, only notes the address in the services' folder.
vt_stub_url_opener() {
    mkdir -p "$vt_services_dir/bin"
    cat >"$vt_services_dir/bin/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$*" >>"$vt_services_dir/opened-urls"
STUB
    chmod +x "$vt_services_dir/bin/xdg-open"
    export PATH="$vt_services_dir/bin:$PATH"
}

vt_start_services() {
    vt_services_dir=$(mktemp -d /tmp/vellumtide-services.XXXXXX)
    vt_stub_url_opener
    # No session bus is started for the tests: without an address, libdbus would fork a launcher
    # from inside multi-threaded test processes (Qt's accessibility bridge asks for the bus), and
    # such a fork can hang under the sanitizers. Tests that need "no session bus" remove this.
    export DBUS_SESSION_BUS_ADDRESS="${DBUS_SESSION_BUS_ADDRESS:-disabled:}"
    vt_start_pulse
    vt_start_avahi
    vt_start_xvfb
}

vt_stop_services() {
    [ -n "$vt_services_dir" ] || return 0
    vt_stop_pid "${vt_pulse_pid:-}"
    vt_pulse_pid=""
    vt_stop_avahi
    vt_stop_pid "${vt_xvfb_pid:-}"
    vt_xvfb_pid=""
    rm -rf "$vt_services_dir"
    vt_services_dir=""
}
