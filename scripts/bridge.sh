#!/usr/bin/env bash
# Builds VellumtideBridge and the plug-in, installs the plug-in bundle into ~/.lv2 and the
# vellumtide: URL handler for the current user, then starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --component user --prefix "$HOME/.local" 2>/dev/null || true
if [ -x build/VellumtideBridge/vellumtide-bridge ]; then
    exec build/VellumtideBridge/vellumtide-bridge "$@"
fi
echo "VellumtideBridge is built in a later step; nothing to start yet."
