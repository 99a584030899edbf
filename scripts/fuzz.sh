#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (AddressSanitizer and UndefinedBehaviorSanitizer on)
# and runs each for SECONDS seconds (default 30), starting from its committed seeds. A crash keeps its
# input in the run folder and fails the script. VT_FUZZ_BUILD names another build folder (default
# build-fuzz), VT_FUZZ_JOBS how many targets run at once (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
build="${VT_FUZZ_BUILD:-$root/build-fuzz}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELLUMTIDE_FUZZ=ON -DVELLUMTIDE_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target vt_fuzz_targets

runs=$(mktemp -d /tmp/vellumtide-fuzz.XXXXXX)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
pids=()
targets=()
for seeds in "$root"/Tests/Fuzz/seeds/*/; do
    name=$(basename "$seeds")
    mkdir -p "$runs/$name/corpus"
    cp -r "$seeds". "$runs/$name/corpus/"
    (cd "$runs/$name" && "$build/Tests/Fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=65536 \
        -rss_limit_mb=2048 -print_final_stats=1 corpus >log.txt 2>&1) &
    pids+=($!)
    targets+=("$name")
    while [ "$(jobs -rp | wc -l)" -ge "${VT_FUZZ_JOBS:-$(nproc)}" ]; do sleep 1; done
done

status=0
for i in "${!pids[@]}"; do
    name=${targets[$i]}
    if wait "${pids[$i]}"; then result=ok; else result=CRASH; status=1; fi
    runs_done=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$runs/$name/log.txt" | grep -o '[0-9]*$' || echo 0)
    echo "fuzz $name: $result, $runs_done executions in ${seconds} s"
    if [ $result = CRASH ]; then
        grep -E 'fuzz oracle broken|ERROR: |SUMMARY' "$runs/$name/log.txt" | head -n 5 || true
        ls "$runs/$name"/crash-* "$runs/$name"/leak-* "$runs/$name"/timeout-* 2>/dev/null | sed 's/^/  input kept: /' || true
    fi
done
if [ $status -eq 0 ]; then rm -rf "$runs"; else echo "fuzz runs kept in $runs"; fi
exit $status
