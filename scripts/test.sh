#!/usr/bin/env bash
# Builds everything and runs every test through CTest: once in a normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the engine's stress test under
# ThreadSanitizer and every fuzz target for VT_FUZZ_SECONDS (default 30) seconds. Starts the
# private test services first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

"$root/scripts/install-deps.sh"

# Tests never see the real home folder.
export HOME=$(mktemp -d /tmp/vellumtide-test-home.XXXXXX)
source "$root/scripts/test-services.sh"
trap 'vt_stop_services; rm -rf "$HOME"' EXIT
vt_start_services

status=0
run_suite() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600 || status=1
}

run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
# LeakSanitizer is on: test fixtures shut their virtual schedulers down, so no coroutine outlives
# its test; what third-party libraries keep until exit is listed in Tests/lsan.supp.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions="$root/Tests/lsan.supp":print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVELLUMTIDE_SANITIZE=ON -DVELLUMTIDE_BENCH=OFF
if [ -x "$root/scripts/test-tsan.sh" ]; then
    "$root/scripts/test-tsan.sh" || status=1
fi
# The fuzz targets, built with clang and libFuzzer, run for a short while each.
"$root/scripts/fuzz.sh" "${VT_FUZZ_SECONDS:-30}" || status=1

if [ $status -eq 0 ]; then echo "All test suites passed."; else echo "Some tests failed."; fi
exit $status
