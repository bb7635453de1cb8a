#!/usr/bin/env bash
# Cross-builds the core and the golden driver for aarch64 (static, Debian's
# cross g++), runs them under qemu-aarch64 and checks the digests in
# tests/golden/digests.txt. Also compares the C library's exp, log and cos
# between this machine and aarch64, which names the function to blame when
# digests differ.
set -euo pipefail
cd "$(dirname "$0")/.."
golden=tests/golden

need=()
for pkg in g++-aarch64-linux-gnu qemu-user; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    # A machine that cannot get the cross toolchain skips this check loudly
    # rather than failing every other test with it.
    if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq "${need[@]}" >/dev/null; }; then
        echo "cross_aarch64: SKIPPED: could not install ${need[*]}"
        exit 0
    fi
fi

dir=build/hard-aarch64
cmake --no-warn-unused-cli -S . -B "$dir" -G Ninja --toolchain cmake/aarch64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DSYNTH_BUILD_GOLDEN=ON -DSYNTH_BUILD_MODULE=OFF -DSYNTH_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j2 --target golden_driver libm_probe >"$dir/build.log" 2>&1 ||
    { cat "$dir/build.log"; exit 1; }
emulate=(qemu-aarch64 -L /usr/aarch64-linux-gnu)
driver="$dir/tests/golden/golden_driver"

"${emulate[@]}" "$driver" --self-test
"${emulate[@]}" "$driver" "$golden/specs.jsonl" >"$dir/digests.txt"

# The probe is one file with no project dependencies: build it natively as is.
g++ -std=c++20 -O2 -ffp-contract=off -o "$dir/libm_probe_native" \
    "$golden/libm_probe.cpp" "$golden/sha256.cpp"
"$dir/libm_probe_native" >"$dir/libm_native.txt"
"${emulate[@]}" "$dir/tests/golden/libm_probe" >"$dir/libm_aarch64.txt"
if diff "$dir/libm_native.txt" "$dir/libm_aarch64.txt" >/dev/null; then
    echo "cross_aarch64: exp, log and cos agree bit for bit on the probe arguments"
else
    echo "cross_aarch64: the C libraries disagree on (function: native / aarch64):"
    join "$dir/libm_native.txt" "$dir/libm_aarch64.txt" | awk '$2 != $3 {print "  " $1}'
fi

if cmp -s "$golden/digests.txt" "$dir/digests.txt"; then
    bash "$golden/compare.sh" "$golden/digests.txt" "$dir/digests.txt" aarch64
    exit 0
fi
# Offsets against this machine's gcc -O2 responses.
native=build/hard-golden-release
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DSYNTH_BUILD_GOLDEN=ON -DSYNTH_BUILD_MODULE=OFF -DSYNTH_BUILD_TESTS=OFF >/dev/null
cmake --build "$native" -j2 --target golden_driver >/dev/null
rm -rf "$dir/dump" "$native/dump"
mkdir -p "$dir/dump" "$native/dump"
"$native/tests/golden/golden_driver" "$golden/specs.jsonl" --dump "$native/dump" >/dev/null
"${emulate[@]}" "$driver" "$golden/specs.jsonl" --dump "$dir/dump" >/dev/null
bash "$golden/compare.sh" "$golden/digests.txt" "$dir/digests.txt" aarch64 "$dir/dump" "$native/dump"
