#!/usr/bin/env bash
# Starts and stops the services the tests use, all private to this run:
#   - a PulseAudio server with a null sink "vt_null" (in a temporary XDG_RUNTIME_DIR),
#   - a system dbus-daemon and an avahi-daemon confined to loopback (allow-interfaces=lo),
#   - an X server in memory (Xvfb, no TCP) for the plug-in window's embedding test.
# Source this file, then call vt_start_services / vt_stop_services.
# A service that cannot start is reported and skipped; the tests that need it skip themselves.

vt_services_dir=""

vt_start_pulse() {
    command -v pulseaudio >/dev/null || { echo "services: pulseaudio not installed; sound tests skip"; return 0; }
    export XDG_RUNTIME_DIR="$vt_services_dir/run"
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    pulseaudio -D -n --exit-idle-time=-1 --log-target="file:$XDG_RUNTIME_DIR/pa.log" \
        -L "module-native-protocol-unix auth-anonymous=1" \
        -L "module-null-sink sink_name=vt_null rate=48000 channels=2" 2>/dev/null || true
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
    if pactl info >/dev/null 2>&1; then
        pactl set-default-sink vt_null
        export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native" VT_TEST_PULSE=1
        echo "services: PulseAudio running with null sink vt_null"
    else
        echo "services: PulseAudio did not start; sound tests skip"
    fi
}

vt_start_avahi() {
    command -v avahi-daemon >/dev/null && command -v dbus-daemon >/dev/null ||
        { echo "services: avahi-daemon or dbus-daemon not installed; DNS-SD tests skip"; return 0; }
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
    mkdir -p /run/dbus
    if [ ! -S /run/dbus/system_bus_socket ]; then
        rm -f /run/dbus/pid
        dbus-daemon --system --fork --print-pid >"$vt_services_dir/dbus.pid" 2>/dev/null || true
        vt_started_dbus=1
    fi
    avahi-daemon -k 2>/dev/null || true
    # Inside a network namespace of our own where the machine allows it (its loopback only);
    # clients still reach the daemon through the bus socket.
    vt_avahi_netns="vellumtide-avahi-$$"
    if command -v ip >/dev/null && ip netns add "$vt_avahi_netns" 2>/dev/null; then
        ip netns exec "$vt_avahi_netns" ip link set lo up
        ip netns exec "$vt_avahi_netns" avahi-daemon -D -f "$vt_services_dir/avahi-daemon.conf" 2>/dev/null || true
    else
        vt_avahi_netns=""
        avahi-daemon -D -f "$vt_services_dir/avahi-daemon.conf" 2>/dev/null || true
    fi
    for _ in $(seq 200); do
        dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
            org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2' && break
        sleep 0.05
    done
    if dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
        org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'; then
        export VT_TEST_AVAHI=1
        echo "services: avahi-daemon running on loopback only${vt_avahi_netns:+ (network namespace $vt_avahi_netns)}"
    else
        echo "services: avahi-daemon did not start; DNS-SD tests skip"
    fi
}

vt_start_xvfb() {
    command -v Xvfb >/dev/null || { echo "services: Xvfb not installed; X11 window tests skip"; return 0; }
    local display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$vt_services_dir/xvfb.log" 2>&1 &
    vt_xvfb_pid=$!
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
    if [ -e "/tmp/.X11-unix/X$display" ]; then
        export DISPLAY=":$display" VT_TEST_X11=1
        echo "services: Xvfb running on display :$display"
    else
        kill "$vt_xvfb_pid" 2>/dev/null || true
        vt_xvfb_pid=""
        echo "services: Xvfb did not start; X11 window tests skip"
    fi
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
    if [ -n "${VT_TEST_PULSE:-}" ]; then pulseaudio --kill 2>/dev/null || true; fi
    if [ -n "${VT_TEST_AVAHI:-}" ]; then avahi-daemon -k 2>/dev/null || true; fi
    if [ -n "${vt_xvfb_pid:-}" ]; then kill "$vt_xvfb_pid" 2>/dev/null || true; wait "$vt_xvfb_pid" 2>/dev/null || true; fi
    if [ -n "${vt_avahi_netns:-}" ]; then ip netns del "$vt_avahi_netns" 2>/dev/null || true; fi
    if [ -n "${vt_started_dbus:-}" ] && [ -s "$vt_services_dir/dbus.pid" ]; then
        kill "$(head -n1 "$vt_services_dir/dbus.pid")" 2>/dev/null || true
        rm -f /run/dbus/pid /run/dbus/system_bus_socket
    fi
    rm -rf "$vt_services_dir"
}
