#!/usr/bin/env bash
# Builds the pad engine's stress test under ThreadSanitizer in its own folder and runs it:
# render passes, kit applications, document-state reads and writes and reference calls at once.
# VT_TSAN_BUILD names another build folder (default build-tsan), VT_JOBS the parallel jobs;
# other arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="${VT_TSAN_BUILD:-$root/build-tsan}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELLUMTIDE_TSAN=ON -DVELLUMTIDE_BENCH=OFF "$@"
cmake --build "$build" -j "${VT_JOBS:-$(nproc)}" --target VellumtideEngineStressTests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir "$build" -R '^EngineStress\.' --output-on-failure --timeout 300
