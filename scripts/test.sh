#!/usr/bin/env bash
# Installs what the tests need and runs every test: the C++ unit tests (release
# and AddressSanitizer+UBSan builds, through ctest) and the Python suite against
# the installed wheel.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev >/dev/null
fi
python3 -m pip install -q --upgrade pip
python3 -m pip install -q ".[test]"

jobs=$(nproc)
for variant in release asan; do
    dir=build/cpp-$variant
    flags=(-DSYNTH_BUILD_TESTS=ON -DSYNTH_BUILD_MODULE=OFF)
    if [ "$variant" = asan ]; then
        flags+=(-DSYNTH_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    else
        flags+=(-DCMAKE_BUILD_TYPE=Release)
    fi
    cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done

# Run from tests/ so the installed package, not the source folder, is imported.
(cd tests && python3 -m pytest -q python)
