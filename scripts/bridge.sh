#!/usr/bin/env bash
# Builds VellumtideBridge and the plug-in, installs the program into ~/.local, the plug-in bundle
# into ~/.lv2, its desktop entry, icon and AppStream description and the vellumtide: URL handler for
# the current user, then starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --component user --prefix "$HOME/.local"
# The plug-in: the user's own copy of the bundle goes into ~/.lv2, where LV2 hosts look first.
stage=$(mktemp -d)
cmake --install build --component plugin --prefix "$stage" >/dev/null
mkdir -p "$HOME/.lv2"
rm -rf "$HOME/.lv2/vellumtide.lv2"
mv "$(find "$stage" -type d -name vellumtide.lv2 -print -quit)" "$HOME/.lv2/"
rm -rf "$stage"
applications="$HOME/.local/share/applications"
# The entry installed under its earlier name would show the program twice.
rm -f "$applications/vellumtide-bridge.desktop"
if command -v update-desktop-database >/dev/null; then
    update-desktop-database "$applications" || true
fi
if command -v xdg-mime >/dev/null; then
    xdg-mime default com.kestrelworks.vellumtide.bridge.desktop x-scheme-handler/vellumtide || true
fi
if command -v gtk-update-icon-cache >/dev/null; then
    gtk-update-icon-cache --force --ignore-theme-index "$HOME/.local/share/icons/hicolor" >/dev/null 2>&1 || true
fi
exec "$HOME/.local/bin/vellumtide-bridge" "$@"
