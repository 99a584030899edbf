#!/usr/bin/env bash
# Builds VellumtideBridge and the plug-in, installs the program into ~/.local, the plug-in bundle
# into ~/.lv2 and the vellumtide: URL handler for the current user, then starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --component user --prefix "$HOME/.local"
applications="$HOME/.local/share/applications"
if command -v update-desktop-database >/dev/null; then
    update-desktop-database "$applications" || true
fi
if command -v xdg-mime >/dev/null; then
    xdg-mime default vellumtide-bridge.desktop x-scheme-handler/vellumtide || true
fi
exec "$HOME/.local/bin/vellumtide-bridge" "$@"
