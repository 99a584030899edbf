#!/usr/bin/env bash
# Two test runs side by side on a machine whose own avahi-daemon runs: each run sources the given
# test-services.sh and starts its services, both run the DNS-SD test at the same time, and both
# must pass through daemons of their own, with the machine's daemon untouched and still running
# when they have stopped their services.
# The machine is a stand-in: a mount namespace of this check's own with a tmpfs on /run/dbus and
# on /run/avahi-daemon, where a system bus and an avahi-daemon (loopback only, in a network
# namespace of the check's own) stand where the machine's own would be; the real ones, and other
# test runs, are never seen or touched.
# Usage: two-runs-side-by-side.sh TEST_SERVICES_SCRIPT NET_TESTS_BINARY. Exits 77 when it cannot
# run here (not root, tools missing).
set -euo pipefail
services=$(realpath "$1")
tests=$(realpath "$2")

skip() {
    echo "SKIPPED: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "not root: no namespaces or avahi-daemon of the check's own"
for tool in avahi-daemon avahi-publish dbus-daemon dbus-send unshare ip mount; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

if [ -z "${VT_STAND_IN_MACHINE:-}" ]; then
    unshare -m true 2>/dev/null || skip "no mount namespace can be made here"
    mkdir -p /run/dbus /run/avahi-daemon # mount points only
    exec env VT_STAND_IN_MACHINE=1 unshare -m --propagation private bash "$0" "$services" "$tests"
fi

# Inside the stand-in machine. Nothing of the calling run's services is inherited.
unset DBUS_SYSTEM_BUS_ADDRESS VT_TEST_AVAHI XDG_RUNTIME_DIR PULSE_SERVER VT_TEST_PULSE DISPLAY VT_TEST_X11
mount -t tmpfs tmpfs /run/dbus || skip "no tmpfs can be mounted on /run/dbus"
mount -t tmpfs tmpfs /run/avahi-daemon
work=$(mktemp -d /tmp/vellumtide-two-runs.XXXXXX)
netns="vellumtide-machine-${work##*.}"
machine_bus=""
machine_avahi=""
cleanup() {
    if [ -n "$machine_avahi" ]; then kill "$machine_avahi" 2>/dev/null || true; wait "$machine_avahi" 2>/dev/null || true; fi
    if [ -n "$machine_bus" ]; then kill "$machine_bus" 2>/dev/null || true; fi
    ip netns del "$netns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The machine's bus, where a system bus is found without DBUS_SYSTEM_BUS_ADDRESS.
cat >"$work/machine-bus.conf" <<'CONF'
<busconfig><type>system</type><listen>unix:path=/run/dbus/system_bus_socket</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/machine-bus.conf" --fork --print-pid >"$work/machine-bus.pid"
machine_bus=$(head -n1 "$work/machine-bus.pid")

# The machine's avahi-daemon: its pid file in /run/avahi-daemon, on the machine's bus.
cat >"$work/machine-avahi.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
ip netns add "$netns" || skip "no network namespace can be made here"
ip netns exec "$netns" ip link set lo up
# --debug logs each request, so a run that used this daemon shows in its log.
ip netns exec "$netns" avahi-daemon --debug --no-chroot --no-drop-root -f "$work/machine-avahi.conf" \
    >"$work/machine-avahi.log" 2>&1 &
machine_avahi=$!
machine_answers() {
    dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
        org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'
}
for _ in $(seq 200); do machine_answers && break; sleep 0.05; done
machine_answers || { cat "$work/machine-avahi.log"; echo "FAIL: the stand-in machine's avahi-daemon did not start"; exit 1; }

# One test run in a shell of its own: services up, wait for the other run's, the DNS-SD test, wait
# for the other run's test to end, services down. The waits make both runs' services overlap.
run() {
    local me=$1 other=$2
    mkdir -p "$work/$me-home"
    HOME="$work/$me-home" bash -c '
        meet() { for _ in $(seq 1200); do [ -e "$1" ] && return 0; sleep 0.05; done; return 1; }
        source "$1"
        vt_start_services
        touch "$3.up"
        meet "$4.up" || echo "the other run never started its services"
        status=0
        "$2" --gtest_filter="DnsSdBrowserTest.*" || status=$?
        touch "$3.tested"
        meet "$4.tested" || echo "the other run never ended its test"
        vt_stop_services
        exit $status' run "$services" "$tests" "$work/$me" "$work/$other" >"$work/$me.log" 2>&1
}
run first second &
first=$!
run second first &
second=$!
status=0
for name in first second; do
    pid=${!name}
    result=0
    wait "$pid" || result=$?
    if [ $result -ne 0 ]; then
        echo "FAIL: the $name run's DNS-SD test failed (exit $result)"
        status=1
    elif grep -q '^\[  SKIPPED \]' "$work/$name.log"; then
        echo "FAIL: the $name run's DNS-SD test was skipped: its services did not start"
        status=1
    fi
done
if ! kill -0 "$machine_avahi" 2>/dev/null || ! machine_answers; then
    echo "FAIL: the machine's avahi-daemon was stopped by a test run"
    status=1
fi
# The runs' clients reached their own daemons: nothing was published on the machine's.
if grep -q -E 'member=(EntryGroupNew|ServiceBrowserNew)' "$work/machine-avahi.log"; then
    echo "FAIL: a test run published or browsed through the machine's avahi-daemon"
    status=1
fi
if [ $status -ne 0 ]; then
    for name in first second; do
        echo "----- the $name run:"
        cat "$work/$name.log"
    done
    exit 1
fi
echo "Two runs side by side: both DNS-SD tests passed; the machine's avahi-daemon still runs."
