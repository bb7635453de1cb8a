#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) and runs each
# for a bounded time, default 20 s. Any crash, sanitizer report, broken
# invariant or timeout fails the run; the input is kept in build/hard-fuzz/artifacts.
# A long campaign: scripts/fuzz.sh 1800
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

need=()
for pkg in clang libclang-rt-14-dev; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

dir=build/hard-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSYNTH_BUILD_FUZZ=ON -DSYNTH_SANITIZE=ON -DSYNTH_BUILD_MODULE=OFF -DSYNTH_BUILD_TESTS=OFF \
    >/dev/null
targets=(json_reader_fuzz parse_spec_fuzz spec_from_value_fuzz dispatcher_fuzz columnar_run_fuzz
    extended_reader_fuzz)
cmake --build "$dir" -j2 --target "${targets[@]}"

mkdir -p "$dir/artifacts"
failed=()
for t in "${targets[@]}"; do
    # Fuzz into a scratch corpus so the committed seeds stay small.
    work="$dir/corpus/$t"
    mkdir -p "$work"
    log="$dir/$t.log"
    status=0
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
        "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
        -dict=fuzz/synth.dict -artifact_prefix="$dir/artifacts/$t-" \
        "$work" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
    runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -1 || true)
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $t FAILED (exit $status)"
        grep -E -A3 'invariant broken|ERROR|runtime error' "$log" | head -40 || tail -40 "$log"
        failed+=("$t")
    else
        echo "fuzz: $t ok: ${runs:-no run count} in ${seconds}s"
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failures in ${failed[*]} (logs in $dir, inputs in $dir/artifacts)"
    exit 1
fi
