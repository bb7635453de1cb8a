#!/usr/bin/env bash
# The complete gate (CI and the README run it): installs what the tests need and
# runs every test: the C++ unit tests (release and AddressSanitizer+UBSan builds,
# through ctest), the golden digests in every build flavour and on aarch64, the
# fuzz targets, the Python suite against the installed wheel (also under ASan),
# lint, format, types and the documentation with its examples. The quick tier
# for development is scripts/test_quick.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev >/dev/null
fi
python3 -m pip install -q --upgrade pip
# The C++ builds below use CMake with Ninja.
for tool in cmake ninja; do
    command -v "$tool" >/dev/null 2>&1 || python3 -m pip install -q "$tool"
done
# The package as users get it: one abi3 wheel, installed with every optional
# extra so no test is skipped, and audited for symbols outside the stable ABI.
rm -rf build/wheel
python3 -m pip wheel -q . --no-deps -w build/wheel -C build-dir=build/wheel-build
wheel=$(ls build/wheel/quarno_synth-*.whl)
python3 -m pip install -q "$wheel[test,all]"
python3 -m pip install -q --force-reinstall --no-deps "$wheel"
abi3audit --strict --report "$wheel"
# Test-only data (arch's real series), lint, format, type and documentation tools: the
# dependency groups of pyproject.toml.
python3 -m pip install -q --group test --group lint --group docs
bash scripts/lint.sh
bash scripts/docs.sh

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

bash scripts/golden.sh
bash scripts/cross_aarch64.sh
bash scripts/fuzz.sh
bash scripts/asan_python.sh

# Run from tests/ so the installed package, not the source folder, is imported.
(cd tests && python3 -m pytest -q python)
