#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and benchmarking Vellumtide needs.
# Idempotent: safe to run again.
set -euo pipefail

packages=(
    # toolchain and tests
    build-essential g++ cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format
    # fuzzing: clang with libFuzzer
    clang libclang-rt-14-dev
    # application framework and coroutines
    qt6-base-dev qt6-base-dev-tools libqt6svg6-dev qcoro-qt6-dev
    # JSON, text, UUIDs
    nlohmann-json3-dev libsimdjson-dev libicu-dev uuid-dev
    # audio decoding, writing, FFT, sound output
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libsndfile1-dev libflac-dev libfftw3-dev libpulse-dev
    # discovery
    libavahi-client-dev avahi-daemon avahi-utils dbus
    # QR codes
    libqrencode-dev
    # plug-in format and the test host
    lv2-dev liblilv-dev lilv-utils sordi libsuil-dev libx11-dev
    # the plug-in window's drag source (XDND over xcb)
    libxcb1-dev
    # services and tools the tests and benchmarks use
    pulseaudio pulseaudio-utils xvfb xauth sox aubio-tools curl iproute2 time drumkv1-lv2
    # the pointer and keyboard of the real drag-and-drop tests
    libxtst-dev xdotool
    # registering the vellumtide: URL handler for the user; validating the desktop entry and the
    # AppStream description
    xdg-utils desktop-file-utils appstream
    # fonts bundled into the windows
    fonts-inter fonts-jetbrains-mono fonts-material-design-icons-iconfont
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "All build and test packages are installed."
    exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
